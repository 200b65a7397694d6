// The video host's plug-in records (filter interface version 8, oldest
// compatible 4), declared from their documented layouts on 32-bit and 64-bit
// Windows. On 32-bit x86 every field is four bytes and no record has padding;
// on x86-64 pointers, handles and ptrdiff_t grow to eight bytes, int and long
// stay four, and every field sits at its natural alignment. One declaration
// serves both: the static_asserts below pin each size and offset on each.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#define VEXLOR_CDECL __cdecl
#else
#define VEXLOR_CDECL
#endif

namespace vexlor {

inline constexpr int kHostApiVersion = 8;
inline constexpr int kHostApiCompatible = 4;
inline constexpr long FILTERPARAM_SWAP_BUFFERS = 0x1;
inline constexpr long FILTERPARAM_NEEDS_LAST = 0x2;

struct FilterDefinition;
struct FilterActivation;
struct FilterFunctions;
struct FilterModule;
struct FilterVTbls;
struct CScriptValue;
// The script interpreter is opaque: its methods use a calling convention that
// differs between hosts, so the module never calls them.
struct IScriptInterpreter;

// Handles travel as plain pointers; user32's types stay out of this header.
using HostWindow = void*;
using HostInstance = void*;

// ---- Module and host services ---------------------------------------------

// Host-owned; the module passes it back and reads hInstModule. Hosts differ
// in what follows hInstModule (one appends private fields, one adds an entry
// before deinitProc on x86-64), so the module relies on nothing past it.
struct FilterModule {
  FilterModule* next;
  FilterModule* prev;
  HostInstance hInstModule;
  void* initProc;
  void* deinitProc;
};

struct FilterFunctions {
  FilterDefinition*(VEXLOR_CDECL* addFilter)(FilterModule*, FilterDefinition*, int fd_len);
  void(VEXLOR_CDECL* removeFilter)(FilterDefinition*);
  bool(VEXLOR_CDECL* isFPUEnabled)();
  bool(VEXLOR_CDECL* isMMXEnabled)();
  void(VEXLOR_CDECL* InitVTables)(FilterVTbls*);
  void(VEXLOR_CDECL* ExceptOutOfMemory)();
  void(VEXLOR_CDECL* Except)(const char* fmt, ...);
  long(VEXLOR_CDECL* getCPUFlags)();
  long(VEXLOR_CDECL* getHostVersionInfo)(char* buf, int len);
};

// ---- Frames ---------------------------------------------------------------

// Six longs describing the frame being rendered.
struct FilterStateInfo {
  long lCurrentFrame;
  long lMicrosecsPerFrame;
  long lCurrentSourceFrame;
  long lMicrosecsPerSrcFrame;
  long lSourceFrameMS;
  long lDestFrameMS;
};

// A bitmap of 32-bit pixels 0x00RRGGBB. Rows are bottom-up: data points at the
// picture's last line and pitch (signed, in bytes) leads to the line above.
// pitch, modulo, size and offset are pointer-sized: 8 bytes on x86-64.
struct VFBitmap {
  void* vtable;
  uint32_t* data;
  uint32_t* palette;
  int depth;
  int w;
  int h;
  ptrdiff_t pitch;
  ptrdiff_t modulo;
  ptrdiff_t size;
  ptrdiff_t offset;
  uint32_t dwFlags;
  void* hdc;
};

// Passed to every callback. Nothing past ifp is ever read: older hosts end
// the record there.
struct FilterActivation {
  FilterDefinition* filter;
  void* filter_data;
  VFBitmap* dst;
  VFBitmap* src;
  VFBitmap* reserved;
  VFBitmap* last;
  int x1, y1, x2, y2;
  FilterStateInfo* pfsi;
  void* ifp;
};

// ---- Scripting ------------------------------------------------------------

enum CScriptValueType : int {
  T_VOID = 0,
  T_INT = 1,
  T_PINT = 2,
  T_STR = 3,
  T_ARRAY = 4,
  T_OBJECT = 5,
  T_FNAME = 6,
  T_FUNCTION = 7,
  T_VARLV = 8,
  T_LONG = 9,
  T_DOUBLE = 10,
};

// One script argument. A string argument holds a handle: the text is *u.s.
struct CScriptValue {
  int type;
  void* thisPtr;
  union {
    int i;
    char** s;
    int64_t l;
    double d;  // the host's union is eight bytes wide
  } u;
};

using ScriptFunctionPtr = void(VEXLOR_CDECL*)(IScriptInterpreter*, void* object,
                                              CScriptValue* argv, int argc);

// One entry of a script object's function list. Overloads of a name follow
// its first entry with a null name; an all-null entry ends the list.
struct ScriptFunctionDef {
  ScriptFunctionPtr func_ptr;
  const char* name;
  const char* arg_list;
};

struct CScriptObject {
  void* Lookup;
  const ScriptFunctionDef* func_list;
  void* obj_list;
};

// ---- Filter definition ----------------------------------------------------

using FilterInitProc = int(VEXLOR_CDECL*)(FilterActivation*, const FilterFunctions*);
using FilterDeinitProc = void(VEXLOR_CDECL*)(FilterActivation*, const FilterFunctions*);
using FilterRunProc = int(VEXLOR_CDECL*)(const FilterActivation*, const FilterFunctions*);
using FilterParamProc = long(VEXLOR_CDECL*)(FilterActivation*, const FilterFunctions*);
using FilterConfigProc = int(VEXLOR_CDECL*)(FilterActivation*, const FilterFunctions*,
                                            HostWindow parent);
using FilterStringProc = void(VEXLOR_CDECL*)(const FilterActivation*, const FilterFunctions*,
                                             char* buf);
using FilterStartProc = int(VEXLOR_CDECL*)(FilterActivation*, const FilterFunctions*);
using FilterEndProc = int(VEXLOR_CDECL*)(FilterActivation*, const FilterFunctions*);
using FilterScriptStrProc = bool(VEXLOR_CDECL*)(FilterActivation*, const FilterFunctions*,
                                                char* buf, int maxlen);

// The definition handed to addFilter; the host copies it.
struct FilterDefinition {
  FilterDefinition* next;
  FilterDefinition* prev;
  FilterModule* module;
  const char* name;
  const char* desc;
  const char* maker;
  void* private_data;
  int inst_data_size;
  FilterInitProc initProc;
  FilterDeinitProc deinitProc;
  FilterRunProc runProc;
  FilterParamProc paramProc;
  FilterConfigProc configProc;
  FilterStringProc stringProc;
  FilterStartProc startProc;
  FilterEndProc endProc;
  const CScriptObject* script_obj;
  FilterScriptStrProc fssProc;
  void* stringProc2;
  void* serializeProc;
  void* deserializeProc;
  void* copyProc;
};

using FilterModuleInitProc = int(VEXLOR_CDECL*)(FilterModule*, const FilterFunctions*,
                                                int* version, int* compatible);
using FilterModuleDeinitProc = void(VEXLOR_CDECL*)(FilterModule*, const FilterFunctions*);

// ---- Layout pins ------------------------------------------------------------

// The size and each offset as the host lays the records out, on 32-bit x86
// (first number) and on x86-64 (second).
#if defined(_WIN64)
#define VEXLOR_AT(at32, at64) (at64)
#elif defined(_WIN32)
#define VEXLOR_AT(at32, at64) (at32)
#endif

#if defined(VEXLOR_AT)
#define VEXLOR_SIZE(T, s32, s64) static_assert(sizeof(T) == VEXLOR_AT(s32, s64), #T)
#define VEXLOR_PIN(T, field, at32, at64) \
  static_assert(offsetof(T, field) == VEXLOR_AT(at32, at64), #T "::" #field)

// What follows hInstModule differs between hosts: neither it nor the size is
// relied on.
VEXLOR_PIN(FilterModule, next, 0, 0);
VEXLOR_PIN(FilterModule, prev, 4, 8);
VEXLOR_PIN(FilterModule, hInstModule, 8, 16);

VEXLOR_SIZE(FilterFunctions, 36, 72);
VEXLOR_PIN(FilterFunctions, addFilter, 0, 0);
VEXLOR_PIN(FilterFunctions, removeFilter, 4, 8);
VEXLOR_PIN(FilterFunctions, isFPUEnabled, 8, 16);
VEXLOR_PIN(FilterFunctions, isMMXEnabled, 12, 24);
VEXLOR_PIN(FilterFunctions, InitVTables, 16, 32);
VEXLOR_PIN(FilterFunctions, ExceptOutOfMemory, 20, 40);
VEXLOR_PIN(FilterFunctions, Except, 24, 48);
VEXLOR_PIN(FilterFunctions, getCPUFlags, 28, 56);
VEXLOR_PIN(FilterFunctions, getHostVersionInfo, 32, 64);

VEXLOR_SIZE(FilterStateInfo, 24, 24);
VEXLOR_PIN(FilterStateInfo, lCurrentFrame, 0, 0);
VEXLOR_PIN(FilterStateInfo, lMicrosecsPerFrame, 4, 4);
VEXLOR_PIN(FilterStateInfo, lCurrentSourceFrame, 8, 8);
VEXLOR_PIN(FilterStateInfo, lMicrosecsPerSrcFrame, 12, 12);
VEXLOR_PIN(FilterStateInfo, lSourceFrameMS, 16, 16);
VEXLOR_PIN(FilterStateInfo, lDestFrameMS, 20, 20);

VEXLOR_SIZE(VFBitmap, 48, 88);
VEXLOR_PIN(VFBitmap, vtable, 0, 0);
VEXLOR_PIN(VFBitmap, data, 4, 8);
VEXLOR_PIN(VFBitmap, palette, 8, 16);
VEXLOR_PIN(VFBitmap, depth, 12, 24);
VEXLOR_PIN(VFBitmap, w, 16, 28);
VEXLOR_PIN(VFBitmap, h, 20, 32);
VEXLOR_PIN(VFBitmap, pitch, 24, 40);
VEXLOR_PIN(VFBitmap, modulo, 28, 48);
VEXLOR_PIN(VFBitmap, size, 32, 56);
VEXLOR_PIN(VFBitmap, offset, 36, 64);
VEXLOR_PIN(VFBitmap, dwFlags, 40, 72);
VEXLOR_PIN(VFBitmap, hdc, 44, 80);
static_assert(sizeof(VFBitmap::pitch) == sizeof(void*), "pitch is pointer-sized");

VEXLOR_SIZE(FilterActivation, 48, 80);
VEXLOR_PIN(FilterActivation, filter, 0, 0);
VEXLOR_PIN(FilterActivation, filter_data, 4, 8);
VEXLOR_PIN(FilterActivation, dst, 8, 16);
VEXLOR_PIN(FilterActivation, src, 12, 24);
VEXLOR_PIN(FilterActivation, reserved, 16, 32);
VEXLOR_PIN(FilterActivation, last, 20, 40);
VEXLOR_PIN(FilterActivation, x1, 24, 48);
VEXLOR_PIN(FilterActivation, y1, 28, 52);
VEXLOR_PIN(FilterActivation, x2, 32, 56);
VEXLOR_PIN(FilterActivation, y2, 36, 60);
VEXLOR_PIN(FilterActivation, pfsi, 40, 64);
VEXLOR_PIN(FilterActivation, ifp, 44, 72);

VEXLOR_SIZE(CScriptValue, 16, 24);
VEXLOR_PIN(CScriptValue, type, 0, 0);
VEXLOR_PIN(CScriptValue, thisPtr, 4, 8);
VEXLOR_PIN(CScriptValue, u, 8, 16);

VEXLOR_SIZE(ScriptFunctionDef, 12, 24);
VEXLOR_PIN(ScriptFunctionDef, func_ptr, 0, 0);
VEXLOR_PIN(ScriptFunctionDef, name, 4, 8);
VEXLOR_PIN(ScriptFunctionDef, arg_list, 8, 16);

VEXLOR_SIZE(CScriptObject, 12, 24);
VEXLOR_PIN(CScriptObject, Lookup, 0, 0);
VEXLOR_PIN(CScriptObject, func_list, 4, 8);
VEXLOR_PIN(CScriptObject, obj_list, 8, 16);

VEXLOR_SIZE(FilterDefinition, 88, 176);
VEXLOR_PIN(FilterDefinition, next, 0, 0);
VEXLOR_PIN(FilterDefinition, prev, 4, 8);
VEXLOR_PIN(FilterDefinition, module, 8, 16);
VEXLOR_PIN(FilterDefinition, name, 12, 24);
VEXLOR_PIN(FilterDefinition, desc, 16, 32);
VEXLOR_PIN(FilterDefinition, maker, 20, 40);
VEXLOR_PIN(FilterDefinition, private_data, 24, 48);
VEXLOR_PIN(FilterDefinition, inst_data_size, 28, 56);
VEXLOR_PIN(FilterDefinition, initProc, 32, 64);
VEXLOR_PIN(FilterDefinition, deinitProc, 36, 72);
VEXLOR_PIN(FilterDefinition, runProc, 40, 80);
VEXLOR_PIN(FilterDefinition, paramProc, 44, 88);
VEXLOR_PIN(FilterDefinition, configProc, 48, 96);
VEXLOR_PIN(FilterDefinition, stringProc, 52, 104);
VEXLOR_PIN(FilterDefinition, startProc, 56, 112);
VEXLOR_PIN(FilterDefinition, endProc, 60, 120);
VEXLOR_PIN(FilterDefinition, script_obj, 64, 128);
VEXLOR_PIN(FilterDefinition, fssProc, 68, 136);
VEXLOR_PIN(FilterDefinition, stringProc2, 72, 144);
VEXLOR_PIN(FilterDefinition, serializeProc, 76, 152);
VEXLOR_PIN(FilterDefinition, deserializeProc, 80, 160);
VEXLOR_PIN(FilterDefinition, copyProc, 84, 168);

// The host's scalar types: int and long are four bytes on both targets (the
// return of paramProc and the frame numbers), bool one.
static_assert(sizeof(long) == 4 && sizeof(int) == 4 && sizeof(bool) == 1);

#undef VEXLOR_PIN
#undef VEXLOR_SIZE
#endif

}  // namespace vexlor
