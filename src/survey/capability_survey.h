// The start-up capability survey's clock and dice. The survey itself is
// IbClientCommandProcessor::Initialize (pipe/command_processor.h); these are the pieces of it
// that deal with time, kept apart so that tests can run the survey without waiting.
#pragma once
#include <functional>

// Bounds of the delay a repeated survey waits before it starts (milliseconds, both included).
inline constexpr int kSurveyStartupDelayMinMs = 9000;
inline constexpr int kSurveyStartupDelayMaxMs = 15000;

// One draw of the start-up delay, uniform over [kSurveyStartupDelayMinMs,
// kSurveyStartupDelayMaxMs], from the process's Mersenne twister (mt19937), seeded once from
// std::random_device on first use. Safe to call from several threads.
int survey_draw_startup_delay_ms();

// Waits until the steady clock has advanced by `milliseconds` (0 or less: returns at once), or
// hands the wait to the function installed for tests. Every wait of the survey goes through
// here.
void survey_sleep(int milliseconds);

// Replaces the survey's waits with `sleep` (which gets the milliseconds asked for); an empty
// function restores the real clock. Safe to call while a survey runs: a wait in progress keeps
// the function it started with.
void survey_set_sleep_for_testing(std::function<void(int milliseconds)> sleep);
