#pragma once
// Test builds only: a journal of what the application did, one line per
// event, appended to the file named by the environment variable
// CERTAIDE_JOURNAL (UTF-8, flushed at once, shared by every thread and
// process). Lines look like "<ms since start> <kind> <details>"; tests and
// the driver wait for them. Release builds compile every call to nothing.
#include <string>

#ifdef CERTAIDE_TEST_BINDING
void JournalWrite(const wchar_t* kind, const std::wstring& details);
// Failure lines with a negative code go to the journal too, as "trace"
// lines (event tracing has no listener under Wine). Call after tracing is
// registered.
void JournalTraceFailures();
#else
inline void JournalWrite(const wchar_t*, const std::wstring&) {}
inline void JournalTraceFailures() {}
#endif
