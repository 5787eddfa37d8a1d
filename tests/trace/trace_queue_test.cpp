// trace::Queue on its own: order, the bound and the drop line, without a writer thread.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "trace/trace_queue.h"

namespace {

trace::Entry* Make(const std::string& text, int attribute = 12) {
    trace::Entry* e = trace::AllocEntry(text.size(), attribute);
    std::memcpy(e->text, text.data(), text.size());
    return e;
}

// Takes everything out of the queue, as the writer would: texts and sequence numbers.
std::vector<std::string> TakeAll(trace::Queue& q, std::vector<uint64_t>* seqs = nullptr) {
    std::vector<std::string> out;
    while (trace::Entry* e = q.Front()) {
        EXPECT_EQ('\0', e->text[e->length]);
        out.emplace_back(e->text, e->length);
        if (seqs) seqs->push_back(e->seq);
        q.PopFront();
    }
    return out;
}

std::string DropLine(uint64_t n) {
    char buf[64];
    trace::FormatDropLine(buf, sizeof buf, n);
    return buf;
}

}  // namespace

TEST(TraceQueue, FirstInFirstOutWithRisingSequenceNumbers) {
    trace::Queue q(10);
    EXPECT_EQ(nullptr, q.Front());
    EXPECT_EQ(0u, q.LastSeq());
    EXPECT_TRUE(q.Push(Make("a"))) << "the first entry wakes the writer";
    EXPECT_FALSE(q.Push(Make("")));
    EXPECT_FALSE(q.Push(Make("ccc", 14)));
    EXPECT_EQ(3u, q.Size());
    EXPECT_EQ(14, q.Front()->next->next->attribute);
    std::vector<uint64_t> seqs;
    EXPECT_EQ((std::vector<std::string>{"a", "", "ccc"}), TakeAll(q, &seqs));
    EXPECT_EQ((std::vector<uint64_t>{1, 2, 3}), seqs);
    EXPECT_EQ(0u, q.Size());
    q.PopFront();  // on an empty queue: nothing happens
    EXPECT_TRUE(q.Push(Make("d")));
    EXPECT_EQ(4u, q.Front()->seq);
}

TEST(TraceQueue, NothingIsDroppedUpToTheBound) {
    trace::Queue q(3);
    for (const char* t : {"1", "2", "3"}) q.Push(Make(t));
    EXPECT_EQ(0u, q.PendingDrops());
    q.QueuePendingDrops();
    EXPECT_EQ((std::vector<std::string>{"1", "2", "3"}), TakeAll(q));
}

TEST(TraceQueue, OverflowIsCountedAndReportedWhereTheGapIs) {
    trace::Queue q(2);
    q.Push(Make("1"));
    q.Push(Make("2"));
    for (int i = 0; i < 5; ++i) EXPECT_FALSE(q.Push(Make("lost")));
    q.CountDrop();  // a post whose entry could not be allocated
    EXPECT_EQ(6u, q.PendingDrops());
    EXPECT_EQ(2u, q.Size());

    q.PopFront();
    q.Push(Make("3"));  // room again: the drop line first, then the post, one over the bound
    EXPECT_EQ(0u, q.PendingDrops());
    EXPECT_EQ(3u, q.Size());
    q.Push(Make("4"));  // full again
    EXPECT_EQ(1u, q.PendingDrops());

    std::vector<uint64_t> seqs;
    EXPECT_EQ((std::vector<std::string>{"2", DropLine(6), "3"}), TakeAll(q, &seqs));
    EXPECT_EQ((std::vector<uint64_t>{2, 3, 4}), seqs);

    // No post follows: the writer queues the count itself when it finds the queue empty.
    q.QueuePendingDrops();
    ASSERT_NE(nullptr, q.Front());
    EXPECT_EQ(trace::Queue::kDropLineAttribute, q.Front()->attribute);
    EXPECT_EQ((std::vector<std::string>{DropLine(1)}), TakeAll(q));
    EXPECT_EQ("\n*** 1 trace messages dropped ***\n", DropLine(1));
}

TEST(TraceQueue, ManyPostersKeepTheirOwnOrder) {
    constexpr int kThreads = 4, kPosts = 5000;
    trace::Queue q(kThreads * kPosts);
    std::vector<std::thread> posters;
    for (int t = 0; t < kThreads; ++t) {
        posters.emplace_back([&q, t] {
            for (int i = 0; i < kPosts; ++i) q.Push(Make(std::to_string(t) + ":" + std::to_string(i)));
        });
    }
    for (auto& p : posters) p.join();
    std::vector<int> next(kThreads, 0);
    for (const std::string& s : TakeAll(q)) {
        const int t = std::stoi(s.substr(0, s.find(':')));
        EXPECT_EQ(next[t]++, std::stoi(s.substr(s.find(':') + 1))) << s;
    }
    EXPECT_EQ(std::vector<int>(kThreads, kPosts), next);
}
