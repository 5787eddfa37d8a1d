// DirectPort.dll: port input for the acquisition board, and the simulated boards behind it.
//
// DP_InpB reads one byte from an I/O port. This library stands in for a hardware port driver: every
// read is answered by a simulated board (or by the floating bus, 0xFF, where no board sits), so the
// control runs without hardware. Boards come from the environment variable DIRECTPORT_SIM, read when
// the library loads; the DPSIM_ functions let a test reconfigure them, script status bytes and read
// back who read which port when. Every function may be called from any thread. None throws: a
// function that runs out of memory reports it as below and leaves the boards as they were.
#pragma once

#include <windows.h>

#ifdef DIRECTPORT_BUILD
// Exported by name through directport.def, so i686 shows no stdcall decoration.
#define DIRECTPORT_API extern "C"
#else
#define DIRECTPORT_API extern "C" __declspec(dllimport)
#endif

// Reads the byte at port nPort; the byte is in the low 8 bits of the result. Never blocks.
DIRECTPORT_API INT WINAPI DP_InpB(INT nPort) noexcept;

// One recorded port read.
struct DPSIM_ACCESS {
    DWORD threadId;   // reading thread
    DWORD tick;       // GetTickCount at the read
    LONGLONG timeUs;  // monotonic microseconds, comparable between processes of one machine
    LONG port;        // port number read
    LONG value;       // byte returned
};

// Back to the boards of DIRECTPORT_SIM (or the built-in default), no scripts, log off and empty.
DIRECTPORT_API void DPSIM_Reset(void) noexcept;

// Replaces the boards with the ones described by config (the DIRECTPORT_SIM syntax). Returns 1, or 0
// for a malformed description (or no memory), which changes nothing.
DIRECTPORT_API int DPSIM_Configure(const char* config) noexcept;

// Appends status bytes that the next status reads of the board at address return, one per read,
// before the board's mode answers again. Returns 0 when no board sits at address (or no memory:
// nothing appended).
DIRECTPORT_API int DPSIM_ScriptStatus(LONG address, const BYTE* bytes, int count) noexcept;

// Starts recording port reads into a fresh log of at most capacity entries (later reads are counted
// but not kept); a capacity of 0 stops recording, and so does a capacity there is no memory for.
DIRECTPORT_API void DPSIM_StartLog(int capacity) noexcept;

// Copies up to max recorded reads, oldest first; returns how many were copied. With out null,
// returns how many are recorded.
DIRECTPORT_API int DPSIM_ReadLog(DPSIM_ACCESS* out, int max) noexcept;

// Port reads made through DP_InpB since the library loaded or the last DPSIM_Reset.
DIRECTPORT_API LONGLONG DPSIM_ReadCount(void) noexcept;
