// The start-up capability survey's dice. The survey itself is
// IbClientCommandProcessor::Initialize (pipe/command_processor.h); it waits on platform::Time().
#pragma once

// Bounds of the delay a repeated survey waits before it starts (milliseconds, both included).
inline constexpr int kSurveyStartupDelayMinMs = 9000;
inline constexpr int kSurveyStartupDelayMaxMs = 15000;

// One draw of the start-up delay, uniform over [kSurveyStartupDelayMinMs,
// kSurveyStartupDelayMaxMs], from the process's Mersenne twister (mt19937), seeded once from
// std::random_device on first use. Safe to call from several threads.
int survey_draw_startup_delay_ms();
