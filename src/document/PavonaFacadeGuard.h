// The facade's operations never raise to their caller: an engine failure
// reads as the operation's "nothing" value (0, a 0 handle, an empty text)
// and leaves a last-error code with its cause in words beside it. These
// wrappers run one operation's body under that rule, so that each
// operation says only what it does and no failure loses its cause.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <utility>

// The last failure of a facade: its code and, beside it, the cause. The two
// are set and cleared together; a code set without a cause gets the code's
// meaning as its message.
struct TFacadeError {
  int32_t Code = 0;
  std::string Message;
  void Set(int32_t code, std::string_view cause = {});
  void Clear() { Set(0); }
};

// The meaning of a last-error code in words ("" for 0 and unknown codes).
std::string FacadeErrorText(int32_t code);

// The code a failure caught from the engine is reported with: the one its
// kind has (a file that cannot be opened or read, an output that cannot be
// created or written, a damaged object), else fallback.
int32_t FailureCode(const std::exception& e, int32_t fallback);

// Records a caught failure: the code of its kind (fallback otherwise) and
// its message.
inline void RecordFailure(TFacadeError& error, const std::exception& e, int32_t fallback) {
  error.Set(FailureCode(e, fallback), e.what());
}

// Runs body and returns its result, or fallback when the engine throws; the
// failure is recorded with code (or the code of its kind).
template <class R, class Body>
R Shielded(TFacadeError& error, int32_t code, R fallback, Body&& body) {
  try {
    return std::forward<Body>(body)();
  } catch (const std::exception& e) {
    RecordFailure(error, e, code);
    return fallback;
  }
}

// For operations that answer through an out-parameter: it is cleared before
// the body runs and again when the body throws, so a failure never leaves a
// half-written answer behind.
template <class Out, class Body>
void ShieldedInto(TFacadeError& error, int32_t code, Out& out, Body&& body) {
  out.clear();
  try {
    std::forward<Body>(body)();
  } catch (const std::exception& e) {
    out.clear();
    RecordFailure(error, e, code);
  }
}
