// A status line scene that a test runs in a real terminal: this test binary,
// started again with the variable set, plays it instead of running tests.
#pragma once

inline constexpr const char* kConsoleSceneVariable = "BRACKWEN_CONSOLE_SCENE";

// Plays the scene whose output file the variable names; returns the exit code.
int RunConsoleScene(const char* resultPath);
