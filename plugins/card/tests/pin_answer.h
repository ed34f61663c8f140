#pragma once
// Test stand-in for "zelvo-dialog pin": the user accepts at once with these two
// PINs, written as the dialog program writes them, one per line ending in "\n"
// (on Windows too: the bytes go straight to the pipe, not through text mode).
constexpr char kPinAnswer[] = "80635179\n42918376\n";
constexpr unsigned kPinAnswerSize = sizeof kPinAnswer - 1;
