#pragma once
// Result codes of platform calls, kept so that a failed step can be passed through and the
// sequence go on, the way the capture layer was designed.

#include <cstdint>

using HRESULT = int32_t;
constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);

// Passes the code through unchanged: a failure is neither reported nor raised.
constexpr HRESULT CheckHResult(HRESULT hr) noexcept {
  return hr;
}
