#pragma once
// The verdict on Q's shown place as the window writes it: one coloured line (confident,
// uncertain, no match) with what it rests on, the figures that decided it, and after ICP the
// RMS distance and the share of Q within it.

#include <string>
#include <vector>

#include "app/app_state.h"

namespace kestrel::app {

enum class VerdictTone { kGood, kDoubt, kBad };  // drawn green, amber, red

struct VerdictLines {
  bool shown = false;  // there is a result to judge
  VerdictTone tone = VerdictTone::kBad;
  std::string verdict;                // "Verdict: confident (Kestrel run, then ICP)"
  std::vector<std::string> evidence;  // the judgement's figures, one clause a line
  std::string icp;                    // "After ICP: RMS 0.0812, 61% of Q within 0.289 of P"
};

// Nothing is shown while state.result_label is empty.
VerdictLines verdict_lines(const AppState& state);

}  // namespace kestrel::app
