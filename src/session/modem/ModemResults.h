#pragma once

#include "session/Transport.h"

namespace velmora {

// Why a call over the modem did not come about. Each is a failure (non-zero) that the session
// component hands back from EnumSessions unchanged, so the caller can tell them apart.
inline constexpr HRESULT MODEMERR_BUSY = static_cast<HRESULT>(0x88770F01);
inline constexpr HRESULT MODEMERR_NOCARRIER = static_cast<HRESULT>(0x88770F02);
inline constexpr HRESULT MODEMERR_NODIALTONE = static_cast<HRESULT>(0x88770F03);
inline constexpr HRESULT MODEMERR_NOANSWER = static_cast<HRESULT>(0x88770F04);
inline constexpr HRESULT MODEMERR_ERROR = static_cast<HRESULT>(0x88770F05);
inline constexpr HRESULT MODEMERR_TIMEOUT = static_cast<HRESULT>(0x88770F06);
// The modem's device cannot be opened (missing, no permission, taken by another program).
inline constexpr HRESULT MODEMERR_NODEVICE = static_cast<HRESULT>(0x88770F07);
// The modem list (modems.ini) exists but cannot be read.
inline constexpr HRESULT MODEMERR_LISTUNREADABLE = static_cast<HRESULT>(0x88770F08);

}  // namespace velmora
