// trace::Queue on its own: order, the bound, the drop line and the writer's parking, without a
// writer thread.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/call_site.h"
#include "trace/trace_queue.h"

namespace {

bool Push(trace::Queue& q, const std::string& text, int attribute = 12) {
    return q.Push(text.data(), text.size(), attribute);
}

struct Taken {
    std::vector<std::string> texts;
    std::vector<int> attributes;
    uint64_t lastSeq = 0;
};

// Takes everything out of the queue, as the writer would, and gives the memory back.
Taken TakeAll(trace::Queue& q, testsupport::CallSite caller = testsupport::CallSite::Here()) {
    const testsupport::CallerTrace fromCaller(caller);
    Taken out;
    trace::Batch batch = q.Take();
    out.lastSeq = batch.lastSeq;
    size_t visited = 0;
    batch.Visit([&](const trace::Record& r) {
        EXPECT_EQ('\0', r.Text()[r.length]);
        out.texts.emplace_back(r.Text(), r.length);
        out.attributes.push_back(r.attribute);
        ++visited;
    });
    EXPECT_EQ(batch.count, visited);
    q.Release(batch);
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
    EXPECT_TRUE(q.Take().Empty());
    EXPECT_EQ(0u, q.LastSeq());
    Push(q, "a");
    Push(q, "");
    Push(q, "ccc", 14);
    EXPECT_EQ(3u, q.Size());
    EXPECT_EQ(3u, q.LastSeq());
    trace::Batch batch = q.Take();
    EXPECT_EQ(3u, batch.count);
    EXPECT_EQ(3u, q.Size()) << "a batch counts until it is released";
    Push(q, "d");  // lands behind the batch, in the next one
    q.Release(batch);
    EXPECT_EQ(1u, q.Size());
    const Taken next = TakeAll(q);
    EXPECT_EQ((std::vector<std::string>{"d"}), next.texts);
    EXPECT_EQ(4u, next.lastSeq);
    EXPECT_EQ(0u, q.Size());
}

TEST(TraceQueue, ShortAndLongTextsKeepTheirOrderAcrossBlocks) {
    trace::Queue q(100000);
    std::vector<std::string> posted;
    // Enough to fill several shared blocks, with long texts of their own in between, twice, so
    // the second round reuses the blocks the first gave back.
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < 20000; ++i) {
            std::string text = std::to_string(i) + " ";
            if (i % 5000 == 17)
                text = std::string(trace::Queue::kLongText + 1 + i % 3, static_cast<char>('a' + i % 26));
            if (i % 7000 == 3) text = std::string(trace::Queue::kLongText, 'x');
            Push(q, text, i % 3);
            posted.push_back(text);
        }
        const Taken taken = TakeAll(q);
        EXPECT_TRUE(taken.texts == posted) << "round " << round;
        for (size_t i = 0; i < taken.attributes.size(); ++i)
            ASSERT_EQ(static_cast<int>(i % 3), taken.attributes[i]);
        posted.clear();
    }
}

TEST(TraceQueue, ALongEntryFilledByThePoster) {
    trace::Queue q(1);
    trace::LongEntry e = trace::Queue::NewLongEntry(5000, 14);
    ASSERT_NE(nullptr, e.text);
    EXPECT_EQ('\0', e.text[5000]);
    std::memset(e.text, 'q', 5000);
    q.PushLong(e);
    q.PushLong(trace::Queue::NewLongEntry(6000, 14));  // over the bound: dropped and freed
    q.PushLong(trace::LongEntry{});                    // out of memory: dropped
    EXPECT_EQ(2u, q.PendingDrops());
    EXPECT_EQ((std::vector<std::string>{std::string(5000, 'q')}), TakeAll(q).texts);
}

TEST(TraceQueue, NothingIsDroppedUpToTheBound) {
    trace::Queue q(3);
    for (const char* t : {"1", "2", "3"}) Push(q, t);
    EXPECT_EQ(0u, q.PendingDrops());
    q.QueuePendingDrops();
    EXPECT_EQ((std::vector<std::string>{"1", "2", "3"}), TakeAll(q).texts);
}

TEST(TraceQueue, OverflowIsCountedAndReportedWhereTheGapIs) {
    trace::Queue q(2);
    Push(q, "1");
    Push(q, "2");
    for (int i = 0; i < 5; ++i) Push(q, "lost");
    q.CountDrop();  // a post that could not be made at all
    EXPECT_EQ(6u, q.PendingDrops());
    EXPECT_EQ(2u, q.Size());

    trace::Batch first = q.Take();
    Push(q, "still full");  // the batch being written still counts
    EXPECT_EQ(7u, q.PendingDrops());
    q.Release(first);
    Push(q, "3");  // room again: the drop line first, then the post
    EXPECT_EQ(0u, q.PendingDrops());
    EXPECT_EQ(2u, q.Size());
    Push(q, "4");  // full again
    EXPECT_EQ(1u, q.PendingDrops());

    const Taken taken = TakeAll(q);
    EXPECT_EQ((std::vector<std::string>{DropLine(7), "3"}), taken.texts);
    EXPECT_EQ(trace::Queue::kDropLineAttribute, taken.attributes[0]);
    EXPECT_EQ(4u, taken.lastSeq) << "1, 2, the drop line, 3";

    // No post follows: the writer queues the count itself when it finds the queue empty.
    EXPECT_FALSE(q.Idle());
    q.QueuePendingDrops();
    EXPECT_EQ((std::vector<std::string>{DropLine(1)}), TakeAll(q).texts);
    EXPECT_TRUE(q.Idle());
    EXPECT_EQ("\n*** 1 trace messages dropped ***\n", DropLine(1));
}

// Only a post that finds the writer parked asks for a signal, and only the first such post.
TEST(TraceQueue, OnlyAParkedWriterIsSignalled) {
    trace::Queue q(2);
    EXPECT_FALSE(Push(q, "a")) << "the writer is awake";
    EXPECT_FALSE(q.Park()) << "something to write: no parking";
    TakeAll(q);
    ASSERT_TRUE(q.Park());
    EXPECT_TRUE(Push(q, "b"));
    EXPECT_FALSE(Push(q, "c"));
    EXPECT_FALSE(q.Park());
    TakeAll(q);

    // A drop, even with no room at all, wakes a parked writer so that it reports the count.
    q.SetLimit(0);
    ASSERT_TRUE(q.Park());
    EXPECT_TRUE(Push(q, "lost"));
    EXPECT_FALSE(q.Park()) << "a drop is pending";
    q.QueuePendingDrops();
    EXPECT_EQ((std::vector<std::string>{DropLine(1)}), TakeAll(q).texts);
    ASSERT_TRUE(q.Park());
    EXPECT_TRUE(q.CountDrop());
}

TEST(TraceQueue, ManyPostersKeepTheirOwnOrder) {
    constexpr int kThreads = 4, kPosts = 5000;
    trace::Queue q(kThreads * kPosts);
    std::vector<std::thread> posters;
    for (int t = 0; t < kThreads; ++t) {
        posters.emplace_back([&q, t] {
            for (int i = 0; i < kPosts; ++i) Push(q, std::to_string(t) + ":" + std::to_string(i));
        });
    }
    // The writer takes batches while the posters run.
    std::vector<std::string> all;
    while (all.size() < static_cast<size_t>(kThreads * kPosts)) {
        const Taken taken = TakeAll(q);
        all.insert(all.end(), taken.texts.begin(), taken.texts.end());
    }
    for (auto& p : posters) p.join();
    std::vector<int> next(kThreads, 0);
    for (const std::string& s : all) {
        const int t = std::stoi(s.substr(0, s.find(':')));
        EXPECT_EQ(next[t]++, std::stoi(s.substr(s.find(':') + 1))) << s;
    }
    EXPECT_EQ(std::vector<int>(kThreads, kPosts), next);
    EXPECT_EQ(0u, q.PendingDrops());
}
