// The tracing helper through a recorder installed in place of TraceMessage.
// Built twice: with Certaide's flag bits and with Keylinq's (TRACE_FOR_KEYLINQ).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TraceHelper.h"

namespace {

#ifdef TRACE_FOR_KEYLINQ
constexpr ULONG kMapping = 0x02, kNegFail = 0x04, kStep = 0x08, kEntry = 0x10;
#else
constexpr ULONG kMapping = 0x00, kNegFail = 0x02, kStep = 0x04, kEntry = 0x08;
#endif

struct Recorded {
    TraceMessageKind kind;
    std::wstring text;
    std::wstring text2;
    ULONG code;
    ULONG64 logger;
};
std::vector<Recorded> g_recorded;

void Recorder(ULONG64 logger, const TraceMessageArgs& m) {
    g_recorded.push_back({m.kind, m.text ? m.text : L"(null pointer)", m.text2 ? m.text2 : L"", m.code, logger});
    SetLastError(0xDEAD);  // a writer that disturbs the last error must not leak it
}

class TraceTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_recorded.clear();
        SetTraceWriter(Recorder);
        SetTraceControlState(true, 0x1234, 0xFF);
    }
    void TearDown() override {
        SetTraceControlState(false, 0, 0);
        SetTraceWriter(nullptr);
        SetTraceControlApi(nullptr);
    }
};

#define TRACE_MODULE L"TraceTests"

// A traced function in the system's own pattern whose Windows call fails.
HRESULT FailingOpen(const wchar_t* path) {
    TRACE_SCOPE(L"FailingOpen");
    HRESULT hr = S_OK;
    HANDLE h = INVALID_HANDLE_VALUE;
    CHECK_GOTO(path == NULL, L"Check Parameter", E_INVALIDARG);
    TRACE_STEP(L"Check Parameter");
    h = CreateFileW(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    CHECK_GOTO(h == INVALID_HANDLE_VALUE, L"CreateFileW", HResultFromLastError());
    CloseHandle(h);
exit:
    return hr;
}

TEST_F(TraceTest, FailingTracedCallKeepsItsLastErrorAndWritesEntryStepFailureExit) {
    const HRESULT hr = FailingOpen(L"C:\\no\\such\\folder\\file.bin");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(hr, static_cast<HRESULT>(0x80070003));

    ASSERT_EQ(g_recorded.size(), 4u);
    EXPECT_EQ(g_recorded[0].kind, TraceMessageKind::Entry);
    EXPECT_EQ(g_recorded[0].text, L"FailingOpen");
    EXPECT_EQ(g_recorded[1].text, L"FailingOpen - Check Parameter");
    EXPECT_EQ(g_recorded[1].code, 0u);
    EXPECT_EQ(g_recorded[2].kind, TraceMessageKind::Failure);
    EXPECT_EQ(g_recorded[2].code, 0x80070003u);
    // "[module(line):] function - step [Reason:condition]"
    const std::wstring& line = g_recorded[2].text;
    EXPECT_EQ(line.rfind(L"[TraceTests(", 0), 0u) << std::string(line.begin(), line.end());
    EXPECT_NE(line.find(L"):] FailingOpen - CreateFileW [Reason:h == INVALID_HANDLE_VALUE]"), std::wstring::npos);
    EXPECT_EQ(g_recorded[3].kind, TraceMessageKind::Exit);
    EXPECT_EQ(g_recorded[0].logger, 0x1234u);
}

TEST_F(TraceTest, LastErrorSurvivesEvenWithoutASession) {
    SetTraceControlState(false, 0, 0);
    FailingOpen(L"C:\\no\\such\\folder\\file.bin");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_TRUE(g_recorded.empty());
}

TEST_F(TraceTest, SignOfTheCodeAloneChoosesTheFailureFlag) {
    struct Row {
        HRESULT code;
        ULONG flag;
        TraceMessageKind kind;
    };
    const Row rows[] = {
        {static_cast<HRESULT>(0x0A000005), kStep, TraceMessageKind::StepOrFailure},  // unfolded key-library code
        {0, kStep, TraceMessageKind::StepOrFailure},
        {static_cast<HRESULT>(0x80070057), kNegFail, TraceMessageKind::Failure},
        {static_cast<HRESULT>(0xA0071004), kNegFail, TraceMessageKind::Failure},
    };
    for (const Row& row : rows) {
        for (ULONG enabled : {kNegFail, kStep}) {
            g_recorded.clear();
            SetTraceControlState(true, 1, enabled);
            LogFailure(row.code, L"line");
            if (enabled == row.flag) {
                ASSERT_EQ(g_recorded.size(), 1u) << std::hex << row.code;
                EXPECT_EQ(g_recorded[0].kind, row.kind);
                EXPECT_EQ(g_recorded[0].code, static_cast<ULONG>(row.code));
            } else {
                EXPECT_TRUE(g_recorded.empty()) << std::hex << row.code << " under " << enabled;
            }
        }
    }
}

TEST_F(TraceTest, EachKindGoesUnderItsOwnFlagOnly) {
    const ULONG all[] = {kMapping, kNegFail, kStep, kEntry};
    for (ULONG enabled : all) {
        if (!enabled) continue;
        g_recorded.clear();
        SetTraceControlState(true, 1, enabled);
        { TraceHelper scope(L"Scope"); }
        TraceStepLine(L"F", L"step");
        TraceValue(L"length", 7);
        LogFailure(E_FAIL, L"failed");
        std::vector<TraceMessageKind> kinds;
        for (const auto& r : g_recorded) kinds.push_back(r.kind);
        if (enabled == kEntry) {
            EXPECT_EQ(kinds, (std::vector<TraceMessageKind>{TraceMessageKind::Entry, TraceMessageKind::Exit}));
        } else if (enabled == kStep) {
            EXPECT_EQ(kinds, (std::vector<TraceMessageKind>{TraceMessageKind::StepOrFailure,
                                                             TraceMessageKind::ValueNumber}));
        } else if (enabled == kNegFail) {
            EXPECT_EQ(kinds, (std::vector<TraceMessageKind>{TraceMessageKind::Failure}));
        } else {
            EXPECT_TRUE(kinds.empty());  // Keylinq's result-mapping bit carries none of these
        }
    }
    const TraceFlags& flags = GetTraceFlags();
    EXPECT_EQ(flags.resultMapping, kMapping);
    EXPECT_EQ(flags.negativeFailure, kNegFail);
    EXPECT_EQ(flags.step, kStep);
    EXPECT_EQ(flags.entryExit, kEntry);
}

TEST_F(TraceTest, NullNameIsWrittenNullAndEmptyNameAngleNull) {
    { TraceHelper scope(nullptr); }
    { TraceHelper scope(L""); }
    TraceValueString(L"path", nullptr);
    ASSERT_EQ(g_recorded.size(), 5u);
    EXPECT_EQ(g_recorded[0].text, L"NULL");
    EXPECT_EQ(g_recorded[1].text, L"NULL");
    EXPECT_EQ(g_recorded[2].text, L"<NULL>");
    EXPECT_EQ(g_recorded[3].text, L"<NULL>");
    EXPECT_EQ(g_recorded[4].text2, L"NULL");
}

TEST(TraceFold, ResultCodeFolding) {
    struct Row {
        LONG in;
        HRESULT out;
    };
    const Row rows[] = {
        {5, static_cast<HRESULT>(0x80070005)},
        {0x00010000, static_cast<HRESULT>(0x80070000)},
        {static_cast<LONG>(0x80090005), static_cast<HRESULT>(0x80090005)},
        {static_cast<LONG>(0x8000F102), static_cast<HRESULT>(0x8000F102)},
        {0, 0},
        {-1, -1},
#ifdef TRACE_FOR_KEYLINQ
        // Keylinq: GM/T 0016 codes (bits 0x0A000000) pass, no 0xA007 case.
        {0x0A000005, 0x0A000005},
        {0x0A000024, 0x0A000024},
        {0x7FFF0001, 0x7FFF0001},                        // both bits set
        {0x08000057, static_cast<HRESULT>(0x80070057)},  // one of the two bits only
        {0x02000057, static_cast<HRESULT>(0x80070057)},
        {0x2000ABCD, static_cast<HRESULT>(0x8007ABCD)},  // customer bit: no 0xA007
        {0x2123ABCD, static_cast<HRESULT>(0x8007ABCD)},
#else
        {0x0A000005, static_cast<HRESULT>(0x80070005)},  // a positive key-library code folds too
        {0x2000ABCD, static_cast<HRESULT>(0xA007ABCD)},  // customer bit
        {0x2123ABCD, static_cast<HRESULT>(0xA007ABCD)},
        {0x7FFF0001, static_cast<HRESULT>(0xA0070001)},
#endif
    };
    for (const Row& row : rows) EXPECT_EQ(HResultFromError(row.in), row.out) << std::hex << row.in;

    SetLastError(0);
    EXPECT_EQ(HResultFromLastError(), static_cast<HRESULT>(0x80004005));
    SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_EQ(HResultFromLastError(), static_cast<HRESULT>(0x80070005));
}

TEST(TraceLine, OverlongLinesAreCutAndTerminated) {
    const std::wstring longText(2000, L'x');
    wchar_t buffer[TRACE_LINE_CHARS + 8];
    wmemset(buffer, L'#', TRACE_LINE_CHARS + 8);
    auto& line = *reinterpret_cast<wchar_t(*)[TRACE_LINE_CHARS]>(buffer);
    FormatFailureLine(line, L"Misc", 42, L"F", longText.c_str(), L"reason");
    EXPECT_EQ(wcslen(line), static_cast<size_t>(TRACE_LINE_CHARS - 1));
    EXPECT_EQ(std::wstring(line).substr(0, 17), L"[Misc(42):] F - x");
    for (int i = TRACE_LINE_CHARS; i < TRACE_LINE_CHARS + 8; ++i) EXPECT_EQ(buffer[i], L'#');

    FormatStepLine(line, L"Function", L"Step");
    EXPECT_STREQ(line, L"Function - Step");
    FormatFailureLine(line, L"Misc", 7, L"F", L"S", L"a == NULL");
    EXPECT_STREQ(line, L"[Misc(7):] F - S [Reason:a == NULL]");
}

// Control callback with the platform calls replaced: Wine's are stubs.
ULONG g_fakeFlags = 0;
TRACEHANDLE WINAPI FakeLoggerHandle(PVOID buffer) { return static_cast<WNODE_HEADER*>(buffer)->HistoricalContext; }
ULONG WINAPI FakeEnableFlags(TRACEHANDLE) { return g_fakeFlags; }
UCHAR WINAPI FakeEnableLevel(TRACEHANDLE) { return 4; }
const TraceControlApi kFakeApi = {FakeLoggerHandle, FakeEnableFlags, FakeEnableLevel};

TEST_F(TraceTest, ControlCallbackEnablesDisablesAndRefusesOtherRequests) {
    SetTraceControlApi(&kFakeApi);
    SetTraceControlState(true, 0, 0);
    WNODE_HEADER header = {};
    header.HistoricalContext = 0x77;
    g_fakeFlags = kStep;

    EXPECT_EQ(TraceControlCallback(WMI_ENABLE_EVENTS, nullptr, nullptr, &header), 0u);
    EXPECT_EQ(GetTraceLoggerHandleState(), 0x77u);
    EXPECT_TRUE(TraceIsEnabled(kStep));
    EXPECT_FALSE(TraceIsEnabled(kEntry));
    TraceStepLine(L"F", L"enabled");
    ASSERT_EQ(g_recorded.size(), 1u);
    EXPECT_EQ(g_recorded[0].logger, 0x77u);

    EXPECT_EQ(TraceControlCallback(WMI_GET_ALL_DATA, nullptr, nullptr, &header), 87u);
    EXPECT_TRUE(TraceIsEnabled(kStep));  // unchanged

    EXPECT_EQ(TraceControlCallback(WMI_DISABLE_EVENTS, nullptr, nullptr, &header), 0u);
    EXPECT_EQ(GetTraceLoggerHandleState(), 0u);
    EXPECT_FALSE(TraceIsEnabled(kStep));
    TraceStepLine(L"F", L"disabled");
    EXPECT_EQ(g_recorded.size(), 1u);
}

TEST(TraceRegistration, RegisterAndUnregisterKeepLastError) {
    SetLastError(4321);
    TraceRegister();  // inert under Wine, real on Windows: either way it must not disturb
    EXPECT_EQ(GetLastError(), 4321u);
    TraceUnregister();
    EXPECT_EQ(GetLastError(), 4321u);
    EXPECT_FALSE(TraceIsEnabled(0xFFFFFFFF));
}

}  // namespace
