#pragma once
// Every control of the main window as data. The Win32 window and the headless
// window are both built from this table.
#include <cstdint>
#include <span>

namespace veldrix {

enum class ControlKind { Group, Push, Check, Radio, Static, Edit, Combo, List };

// What an edit field accepts when typed into.
enum class CharFilter { None, Any, Digits, Hex };

namespace style {
constexpr uint32_t kReadOnly = 1u << 0;
constexpr uint32_t kCentred = 1u << 1;
constexpr uint32_t kUpperCase = 1u << 2;
constexpr uint32_t kAutoScroll = 1u << 3;
constexpr uint32_t kBordered = 1u << 4;
constexpr uint32_t kClientEdge = 1u << 5;   // sunken edge (every edit field)
constexpr uint32_t kStaticEdge = 1u << 6;
constexpr uint32_t kVScroll = 1u << 7;
constexpr uint32_t kStartsGroup = 1u << 8;  // first radio of a new radio group
constexpr uint32_t kMultiLine = 1u << 9;
constexpr uint32_t kNotify = 1u << 10;      // static that reports clicks
constexpr uint32_t kTabStop = 1u << 11;
constexpr uint32_t kDigitsOnly = 1u << 12;
constexpr uint32_t kHidden = 1u << 13;      // invisible at start
constexpr uint32_t kDisabled = 1u << 14;    // disabled at start
}  // namespace style

struct ControlRect {
    int left, top, right, bottom;
};

struct ControlDef {
    int id;
    ControlKind kind;
    int parent;           // group id, or id::kWindow
    const char* caption;  // UTF-8
    ControlRect rect;     // pixels, relative to the parent
    uint32_t styles;
    CharFilter filter;    // edit fields only
};

struct FontDef {
    const char* face;  // "" = the system default face
    int height, width, weight;
    bool italic, underline;
};

struct Rgb {
    uint8_t r, g, b;
};

// In creation order: left column, operations, code view, status and counters,
// offline files.
std::span<const ControlDef> MainControls();
const ControlDef* FindControl(int id);

extern const FontDef kBaseFont;
extern const FontDef kStatusFont;
extern const FontDef kFieldFont;
extern const FontDef kLinkFont;
extern const FontDef kListFont;
// Edit fields that get kFieldFont.
std::span<const int> FieldFontControls();

// Caption colour of a control when it asks; false = the default colour.
bool ControlTextColour(int id, bool linkPressed, Rgb& colour);

}  // namespace veldrix
