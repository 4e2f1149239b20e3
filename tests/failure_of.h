// The failure a call raises, as text to compare calls by: shared by the
// tests and the fuzz targets.
#pragma once

#include <string>

#include "core/failure.h"

// "kind: message" of the failure fn raises, or "" when it raises none.
template <typename Fn>
std::string FailureOf(Fn fn) {
  try {
    fn();
  } catch (const Failure& failure) {
    return std::string(failure.kind) + ": " + failure.message;
  }
  return "";
}
