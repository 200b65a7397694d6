// The module's entry points, the filter definition handed to the host, and the
// instance and frame callbacks.
#include <windows.h>

#include "host/fpu_guard.h"
#include "host/glue.h"
#include "host/resource.h"

namespace vexlor {

INT_PTR CALLBACK ConfigDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

static const CScriptObject kScriptObject = {nullptr, kScriptFunctions, nullptr};

// What the host shows and calls; the list links are the host's.
static FilterDefinition gDefinition = {
    .next = nullptr,
    .prev = nullptr,
    .module = nullptr,
    .name = "vexlor",
    .desc = "add any effect that can vbe expressed",
    .maker = "Quillmere",
    .private_data = nullptr,
    .inst_data_size = sizeof(FilterSettings),
    .initProc = InitSettings,
    .deinitProc = nullptr,
    .runProc = RunFrame,
    .paramProc = QueryParams,
    .configProc = ConfigureFilter,
    .stringProc = DescribeSettings,
    .startProc = StartOrEnd,
    .endProc = StartOrEnd,
    .script_obj = &kScriptObject,
    .fssProc = WriteScriptLine,
    .stringProc2 = nullptr,
    .serializeProc = nullptr,
    .deserializeProc = nullptr,
    .copyProc = nullptr,
};

// The host's copy of the definition, from Init2 until Deinit.
static FilterDefinition* gRegisteredDefinition = nullptr;

int VEXLOR_CDECL InitSettings(FilterActivation* fa, const FilterFunctions*) {
  FilterSettings& settings = SettingsOf(fa);
  settings.clamp = 0;
  settings.text[0] = '\0';
  return 0;
}

// Whether a bitmap's pitch fits the core's 32-bit one. The host's field is
// pointer-sized; a real frame's rows are far shorter than 2 GiB.
static bool PitchFits(ptrdiff_t pitch) { return pitch >= INT32_MIN && pitch <= INT32_MAX; }

// Maps the whole source frame into the destination. A program that does not
// compile only affects the pixels, so this always succeeds. A pitch the core
// cannot take leaves the destination as it is rather than cut the pitch and
// write other rows.
int VEXLOR_CDECL RunFrame(const FilterActivation* fa, const FilterFunctions*) {
  FpuGuard fpu;
  const VFBitmap& src = *fa->src;
  const VFBitmap& dst = *fa->dst;
  if (!PitchFits(src.pitch) || !PitchFits(dst.pitch)) return 0;
  int32_t frame = fa->pfsi ? static_cast<int32_t>(fa->pfsi->lCurrentFrame) : 0;
  MapFrame(SettingsOf(fa),
           ConstPixelView{src.data, src.w, src.h, static_cast<int32_t>(src.pitch)},
           PixelView{dst.data, src.w, src.h, static_cast<int32_t>(dst.pitch)}, frame);
  return 0;
}

// Source and destination are separate buffers of the same size.
long VEXLOR_CDECL QueryParams(FilterActivation*, const FilterFunctions*) {
  return FILTERPARAM_SWAP_BUFFERS;
}

// Nothing is built up for a run of frames.
int VEXLOR_CDECL StartOrEnd(FilterActivation*, const FilterFunctions*) { return 0; }

// Runs the modal dialog on the record in place: 0 after OK, 1 after Cancel,
// -1 when the dialog cannot be created. The dialog's window code runs in the
// host's floating-point state, and whatever flags it sets are cleared after.
int VEXLOR_CDECL ConfigureFilter(FilterActivation* fa, const FilterFunctions*, HostWindow parent) {
  FpuKeeper fpu;
  auto instance = static_cast<HINSTANCE>(fa->filter->module->hInstModule);
  return static_cast<int>(DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_CONFIG),
                                          static_cast<HWND>(parent), ConfigDialogProc,
                                          reinterpret_cast<LPARAM>(fa->filter_data)));
}

}  // namespace vexlor

using namespace vexlor;

extern "C" {

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }

// Registers the one filter; 1 when the host refuses it.
__declspec(dllexport) int __cdecl VirtualdubFilterModuleInit2(FilterModule* module,
                                                              const FilterFunctions* ff,
                                                              int* version, int* compatible) {
  gRegisteredDefinition = ff->addFilter(module, &gDefinition, sizeof(FilterDefinition));
  if (!gRegisteredDefinition) return 1;
  *version = kHostApiVersion;
  *compatible = kHostApiCompatible;
  return 0;
}

__declspec(dllexport) void __cdecl VirtualdubFilterModuleDeinit(FilterModule*,
                                                                const FilterFunctions* ff) {
  ff->removeFilter(gRegisteredDefinition);
}

}  // extern "C"
