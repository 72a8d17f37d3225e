// One outcome per confirmation: the window's cancel or time-out only while
// the worker has not stored the key's answer, which is never overwritten.
#include <gtest/gtest.h>

#include <windows.h>

#include <thread>

#include "SKFWindows.h"

namespace {

// The task functions stand for the key: one that answers at once, one that
// waits for the window's word and then answers `late`.
uint32_t g_late = 0;
uint32_t AnswersAtOnce(SKF_CALLBACK_CONTEXT*, MIDDLEWARE_CONTEXT*) { return 0; }
uint32_t AnswersAfterTheWindow(SKF_CALLBACK_CONTEXT* context, MIDDLEWARE_CONTEXT*) {
    while (GetCallbackStatus(context) == 0) Sleep(1);
    return g_late;
}

struct Task {
    SKF_CALLBACK_CONTEXT context;
    CONFIRM_TASK task;
    explicit Task(CONFIRM_TASK_FN fn) {
        task.pfnTask = fn;
        task.pCallbackContext = &context;
    }
};

TEST(ConfirmOutcome, WorkerThenCountdownKeepsTheKeysAnswer) {
    Task t(&AnswersAtOnce);
    EXPECT_EQ(0u, ConfirmWorkingThread(&t.task));
    EXPECT_FALSE(SetConfirmOutcome(&t.task, CB_STATUS_TIMEOUT));
    EXPECT_EQ(0u, t.task.result.load());
    EXPECT_EQ(0u, GetCallbackStatus(&t.context));
}

TEST(ConfirmOutcome, WindowFirstThenTheWorkersAnswerWins) {
    struct Row {
        const char* name;
        uint32_t windowOutcome;
        uint32_t keyAnswer;
    } rows[] = {
        {"countdown, key refused", CB_STATUS_TIMEOUT, CB_STATUS_TIMEOUT},
        {"countdown, key carried out meanwhile", CB_STATUS_TIMEOUT, 0},
        {"label, key cancelled", CB_STATUS_CANCELLED, CB_STATUS_CANCELLED},
        {"close, key carried out meanwhile", CB_STATUS_CANCELLED, 0},
    };
    for (const Row& row : rows) {
        g_late = row.keyAnswer;
        Task t(&AnswersAfterTheWindow);
        std::thread worker([&] { ConfirmWorkingThread(&t.task); });
        EXPECT_TRUE(SetConfirmOutcome(&t.task, row.windowOutcome)) << row.name;
        // A second word of the window (a close after the countdown) changes nothing.
        const uint32_t other = row.windowOutcome == CB_STATUS_TIMEOUT ? CB_STATUS_CANCELLED : CB_STATUS_TIMEOUT;
        SetConfirmOutcome(&t.task, other);
        worker.join();
        EXPECT_EQ(row.keyAnswer, t.task.result.load()) << row.name;
        EXPECT_FALSE(SetConfirmOutcome(&t.task, other)) << row.name;
        EXPECT_EQ(row.keyAnswer, t.task.result.load()) << row.name;
    }
}

TEST(ConfirmOutcome, KeyRefusalsMapToCancelAndTimeOut) {
    for (uint32_t key : {0x8000F322u, 0x8000F323u}) {
        static uint32_t answer;
        answer = key;
        Task t([](SKF_CALLBACK_CONTEXT*, MIDDLEWARE_CONTEXT*) { return answer; });
        const uint32_t expected = key == 0x8000F322u ? CB_STATUS_CANCELLED : CB_STATUS_TIMEOUT;
        EXPECT_EQ(expected, ConfirmWorkingThread(&t.task));
        EXPECT_EQ(expected, t.task.result.load());
        EXPECT_EQ(expected, GetCallbackStatus(&t.context));
    }
}

}  // namespace
