// The video host's plug-in records (filter interface version 8, oldest
// compatible 4), declared from their documented 32-bit layouts. Every field is
// four bytes on the 32-bit target and every record is packed without padding;
// the static_asserts below pin each size and offset there.
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

// Host-owned; the module passes it back and reads hInstModule. Some hosts
// append private fields, so the size is a lower bound only.
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
struct VFBitmap {
  void* vtable;
  uint32_t* data;
  uint32_t* palette;
  int depth;
  int w;
  int h;
  int pitch;
  int modulo;
  int size;
  int offset;
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
    int64_t pad;  // the host's union is eight bytes wide
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

// ---- Layout pins for the 32-bit target --------------------------------------

#if defined(_WIN32) && !defined(_WIN64)
#define VEXLOR_PIN(T, field, at) static_assert(offsetof(T, field) == (at), #T "::" #field)

static_assert(sizeof(FilterModule) == 20);
VEXLOR_PIN(FilterModule, next, 0);
VEXLOR_PIN(FilterModule, prev, 4);
VEXLOR_PIN(FilterModule, hInstModule, 8);
VEXLOR_PIN(FilterModule, initProc, 12);
VEXLOR_PIN(FilterModule, deinitProc, 16);

static_assert(sizeof(FilterFunctions) == 36);
VEXLOR_PIN(FilterFunctions, addFilter, 0);
VEXLOR_PIN(FilterFunctions, removeFilter, 4);
VEXLOR_PIN(FilterFunctions, isFPUEnabled, 8);
VEXLOR_PIN(FilterFunctions, isMMXEnabled, 12);
VEXLOR_PIN(FilterFunctions, InitVTables, 16);
VEXLOR_PIN(FilterFunctions, ExceptOutOfMemory, 20);
VEXLOR_PIN(FilterFunctions, Except, 24);
VEXLOR_PIN(FilterFunctions, getCPUFlags, 28);
VEXLOR_PIN(FilterFunctions, getHostVersionInfo, 32);

static_assert(sizeof(FilterStateInfo) == 24);
VEXLOR_PIN(FilterStateInfo, lCurrentFrame, 0);
VEXLOR_PIN(FilterStateInfo, lMicrosecsPerFrame, 4);
VEXLOR_PIN(FilterStateInfo, lCurrentSourceFrame, 8);
VEXLOR_PIN(FilterStateInfo, lMicrosecsPerSrcFrame, 12);
VEXLOR_PIN(FilterStateInfo, lSourceFrameMS, 16);
VEXLOR_PIN(FilterStateInfo, lDestFrameMS, 20);

static_assert(sizeof(VFBitmap) == 48);
VEXLOR_PIN(VFBitmap, vtable, 0);
VEXLOR_PIN(VFBitmap, data, 4);
VEXLOR_PIN(VFBitmap, palette, 8);
VEXLOR_PIN(VFBitmap, depth, 12);
VEXLOR_PIN(VFBitmap, w, 16);
VEXLOR_PIN(VFBitmap, h, 20);
VEXLOR_PIN(VFBitmap, pitch, 24);
VEXLOR_PIN(VFBitmap, modulo, 28);
VEXLOR_PIN(VFBitmap, size, 32);
VEXLOR_PIN(VFBitmap, offset, 36);
VEXLOR_PIN(VFBitmap, dwFlags, 40);
VEXLOR_PIN(VFBitmap, hdc, 44);

static_assert(sizeof(FilterActivation) == 48);
VEXLOR_PIN(FilterActivation, filter, 0);
VEXLOR_PIN(FilterActivation, filter_data, 4);
VEXLOR_PIN(FilterActivation, dst, 8);
VEXLOR_PIN(FilterActivation, src, 12);
VEXLOR_PIN(FilterActivation, reserved, 16);
VEXLOR_PIN(FilterActivation, last, 20);
VEXLOR_PIN(FilterActivation, x1, 24);
VEXLOR_PIN(FilterActivation, y1, 28);
VEXLOR_PIN(FilterActivation, x2, 32);
VEXLOR_PIN(FilterActivation, y2, 36);
VEXLOR_PIN(FilterActivation, pfsi, 40);
VEXLOR_PIN(FilterActivation, ifp, 44);

static_assert(sizeof(CScriptValue) == 16);
VEXLOR_PIN(CScriptValue, type, 0);
VEXLOR_PIN(CScriptValue, thisPtr, 4);
VEXLOR_PIN(CScriptValue, u, 8);

static_assert(sizeof(ScriptFunctionDef) == 12);
VEXLOR_PIN(ScriptFunctionDef, func_ptr, 0);
VEXLOR_PIN(ScriptFunctionDef, name, 4);
VEXLOR_PIN(ScriptFunctionDef, arg_list, 8);

static_assert(sizeof(CScriptObject) == 12);
VEXLOR_PIN(CScriptObject, Lookup, 0);
VEXLOR_PIN(CScriptObject, func_list, 4);
VEXLOR_PIN(CScriptObject, obj_list, 8);

static_assert(sizeof(FilterDefinition) == 88);
VEXLOR_PIN(FilterDefinition, next, 0);
VEXLOR_PIN(FilterDefinition, prev, 4);
VEXLOR_PIN(FilterDefinition, module, 8);
VEXLOR_PIN(FilterDefinition, name, 12);
VEXLOR_PIN(FilterDefinition, desc, 16);
VEXLOR_PIN(FilterDefinition, maker, 20);
VEXLOR_PIN(FilterDefinition, private_data, 24);
VEXLOR_PIN(FilterDefinition, inst_data_size, 28);
VEXLOR_PIN(FilterDefinition, initProc, 32);
VEXLOR_PIN(FilterDefinition, deinitProc, 36);
VEXLOR_PIN(FilterDefinition, runProc, 40);
VEXLOR_PIN(FilterDefinition, paramProc, 44);
VEXLOR_PIN(FilterDefinition, configProc, 48);
VEXLOR_PIN(FilterDefinition, stringProc, 52);
VEXLOR_PIN(FilterDefinition, startProc, 56);
VEXLOR_PIN(FilterDefinition, endProc, 60);
VEXLOR_PIN(FilterDefinition, script_obj, 64);
VEXLOR_PIN(FilterDefinition, fssProc, 68);
VEXLOR_PIN(FilterDefinition, stringProc2, 72);
VEXLOR_PIN(FilterDefinition, serializeProc, 76);
VEXLOR_PIN(FilterDefinition, deserializeProc, 80);
VEXLOR_PIN(FilterDefinition, copyProc, 84);

#undef VEXLOR_PIN
#endif

}  // namespace vexlor
