// The module's callbacks and the helpers they share. Everything here works on
// the instance record in place and keeps no state of its own.
#pragma once

#include <string>
#include <string_view>

#include "host/host_abi.h"
#include "pixel/pixel.h"

namespace vexlor {

// The instance record the host passes to every callback.
inline FilterSettings& SettingsOf(const FilterActivation* fa) {
  return *static_cast<FilterSettings*>(fa->filter_data);
}

// The script functions behind "Config": "0si" sets text and option, "0s" the
// text alone.
extern const ScriptFunctionDef kScriptFunctions[];

int VEXLOR_CDECL InitSettings(FilterActivation* fa, const FilterFunctions* ff);
int VEXLOR_CDECL RunFrame(const FilterActivation* fa, const FilterFunctions* ff);
long VEXLOR_CDECL QueryParams(FilterActivation* fa, const FilterFunctions* ff);
int VEXLOR_CDECL StartOrEnd(FilterActivation* fa, const FilterFunctions* ff);
int VEXLOR_CDECL ConfigureFilter(FilterActivation* fa, const FilterFunctions* ff,
                                 HostWindow parent);
void VEXLOR_CDECL DescribeSettings(const FilterActivation* fa, const FilterFunctions* ff,
                                   char* buf);
bool VEXLOR_CDECL WriteScriptLine(FilterActivation* fa, const FilterFunctions* ff, char* buf,
                                  int maxlen);

}  // namespace vexlor
