/* Unit types, unit properties and the form items of unit records, each
   described once. The image linker takes the names and the items a unit
   type accepts from here, the kernel library's model which properties a unit
   has and how they are read and written, and the backends what a unit is
   shown as. Adding a unit type, a property or a form item is one row below
   plus its behaviour.

   Plain C, included by runtime_abi.h: the constants RT_UNIT_*, RT_PROPERTY_*
   and RT_FORM_* are made from the rows. */
#ifndef RUNTIME_CONTRACT_UNIT_TABLE_H
#define RUNTIME_CONTRACT_UNIT_TABLE_H

#include <stddef.h>
#include <stdint.h>

/* ---- Facets: what sets unit types apart. A property or form item names the
   facet a unit type needs to have it; 0 means every unit type has it. ---- */
#define RT_FACET_ROWS 0x01u     /* rows and a selected row: a list box */
#define RT_FACET_CHECK 0x02u    /* checked, one of its parent's radio group */
#define RT_FACET_TYPED 0x04u    /* takes typed text (read-only, multi-line, content event) */
#define RT_FACET_PICTURE 0x08u  /* shows a picture */
#define RT_FACET_FIELD 0x10u    /* an input field: white background by default */
#define RT_FACET_ALIGNED 0x20u  /* places its text left, centred or right */
#define RT_FACET_SCROLLED 0x40u /* may carry scroll bars */
#define RT_FACET_FACES 0x80u    /* a face for each state: hovered, pressed, disabled */
#define RT_FACET_ICON 0x100u    /* carries the program's icon: a window */

/* A unit type reference is the 1-based library list position << 16 | the
   type's number in its library. The kernel library is always first, so its
   types have fixed references; a support library's position is the
   program's own, so its constants are the type numbers alone. */
#define RT_TYPE_BASE_krnln 0x00010000u
#define RT_TYPE_BASE_eCompress 0u
#define RT_TYPE_BASE_iext 0u
#define RT_TYPE_BASE_HtmlView 0u

/* ---- Unit types. X(constant, name in descriptions, library, number in the
   library, facets, shown as). "Shown as" is what the real-window backend
   makes of the unit (Invisible: nothing on the screen). ---- */
#define RT_UNIT_TYPE_TABLE(X)                                                                     \
    X(RT_UNIT_WINDOW, "window", krnln, 0x0001, RT_FACET_PICTURE | RT_FACET_ICON, Window)          \
    X(RT_UNIT_EDIT, "edit", krnln, 0x0005,                                                        \
      RT_FACET_TYPED | RT_FACET_FIELD | RT_FACET_ALIGNED | RT_FACET_SCROLLED, Edit)               \
    X(RT_UNIT_PICTURE, "picture", krnln, 0x0006, RT_FACET_PICTURE, PictureBox)                    \
    X(RT_UNIT_CANVAS, "canvas", krnln, 0x0008, 0, Canvas)                                         \
    X(RT_UNIT_GROUP, "group", krnln, 0x0009, 0, Group)                                            \
    X(RT_UNIT_LABEL, "label", krnln, 0x000A, RT_FACET_ALIGNED, Label)                             \
    X(RT_UNIT_BUTTON, "button", krnln, 0x000B, 0, Button)                                         \
    X(RT_UNIT_RADIO, "radio", krnln, 0x000D, RT_FACET_CHECK, Radio)                               \
    X(RT_UNIT_LIST, "list", krnln, 0x000F, RT_FACET_ROWS | RT_FACET_FIELD | RT_FACET_SCROLLED,    \
      List)                                                                                       \
    X(RT_UNIT_HYPERLINK, "hyperlink", krnln, 0x001D, 0, Hyperlink)                                \
    X(RT_UNIT_PICTURE_BUTTON, "picture-button", krnln, 0x002D, RT_FACET_PICTURE | RT_FACET_FACES, \
      PictureButton)                                                                              \
    X(RT_ECOMPRESS_ZIP, "zip", eCompress, 0x0001, 0, Invisible)                                   \
    X(RT_IEXT_TRANSPARENT_LABEL, "transparent-label", iext, 0x0005, 0, TransparentLabel)          \
    X(RT_HTMLVIEW_BROWSER, "html-view", HtmlView, 0x0001, 0, HtmlView)

/* ---- Unit properties, read and written through RT_SLOT_GET_PROPERTY and
   RT_SLOT_SET_PROPERTY. X(constant, number, value, facets, access, index).
   Values: RT_VALUE_TEXT is written as the address of a GBK text and read as
   a new heap text that the caller releases; RT_VALUE_BYTES is written as
   the address of a byte array (0 for none) and read as a new heap byte
   array; RT_VALUE_LOGICAL reads 1 or 0; colours are 0x00BBGGRR. Index:
   RT_INDEX_ROW takes a row (from 0) as its index, every other property -1.
   Numbers from 1; later additions take the next free number. ---- */
#define RT_PROPERTY_TABLE(X)                                                                      \
    /* caption, or an edit box's content */                                                       \
    X(RT_PROPERTY_TEXT, 1, RT_VALUE_TEXT, 0, RT_ACCESS_READ_WRITE, RT_INDEX_NONE)                 \
    /* place in pixels, relative to the parent's client area */                                   \
    X(RT_PROPERTY_LEFT, 2, RT_VALUE_INTEGER, 0, RT_ACCESS_READ_WRITE, RT_INDEX_NONE)              \
    X(RT_PROPERTY_TOP, 3, RT_VALUE_INTEGER, 0, RT_ACCESS_READ_WRITE, RT_INDEX_NONE)               \
    X(RT_PROPERTY_WIDTH, 4, RT_VALUE_INTEGER, 0, RT_ACCESS_READ_WRITE, RT_INDEX_NONE)             \
    X(RT_PROPERTY_HEIGHT, 5, RT_VALUE_INTEGER, 0, RT_ACCESS_READ_WRITE, RT_INDEX_NONE)            \
    X(RT_PROPERTY_VISIBLE, 6, RT_VALUE_LOGICAL, 0, RT_ACCESS_READ_WRITE, RT_INDEX_NONE)           \
    X(RT_PROPERTY_ENABLED, 7, RT_VALUE_LOGICAL, 0, RT_ACCESS_READ_WRITE, RT_INDEX_NONE)           \
    X(RT_PROPERTY_TEXT_COLOUR, 8, RT_VALUE_COLOUR, 0, RT_ACCESS_READ_WRITE, RT_INDEX_NONE)        \
    X(RT_PROPERTY_BACK_COLOUR, 9, RT_VALUE_COLOUR, 0, RT_ACCESS_READ_WRITE, RT_INDEX_NONE)        \
    /* the font's face; empty for the system's default face */                                    \
    X(RT_PROPERTY_FONT_NAME, 10, RT_VALUE_TEXT, 0, RT_ACCESS_READ_WRITE, RT_INDEX_NONE)           \
    /* points */                                                                                  \
    X(RT_PROPERTY_FONT_SIZE, 11, RT_VALUE_INTEGER, 0, RT_ACCESS_READ_WRITE, RT_INDEX_NONE)        \
    /* RT_FONT_* bits */                                                                          \
    X(RT_PROPERTY_FONT_STYLE, 12, RT_VALUE_INTEGER, 0, RT_ACCESS_READ_WRITE, RT_INDEX_NONE)       \
    X(RT_PROPERTY_PICTURE, 13, RT_VALUE_BYTES, RT_FACET_PICTURE, RT_ACCESS_READ_WRITE,            \
      RT_INDEX_NONE)                                                                              \
    /* the number of rows */                                                                      \
    X(RT_PROPERTY_ITEM_COUNT, 14, RT_VALUE_INTEGER, RT_FACET_ROWS, RT_ACCESS_READ, RT_INDEX_NONE) \
    /* the text of the row `index` */                                                             \
    X(RT_PROPERTY_ITEM, 15, RT_VALUE_TEXT, RT_FACET_ROWS, RT_ACCESS_READ_WRITE, RT_INDEX_ROW)     \
    /* the selected row, -1 for none */                                                           \
    X(RT_PROPERTY_SELECTION, 16, RT_VALUE_INTEGER, RT_FACET_ROWS, RT_ACCESS_READ_WRITE,           \
      RT_INDEX_NONE)                                                                              \
    /* checking one unchecks the other radio buttons of the same parent */                        \
    X(RT_PROPERTY_CHECKED, 17, RT_VALUE_LOGICAL, RT_FACET_CHECK, RT_ACCESS_READ_WRITE,            \
      RT_INDEX_NONE)                                                                              \
    /* the user cannot type into it */                                                            \
    X(RT_PROPERTY_READ_ONLY, 18, RT_VALUE_LOGICAL, RT_FACET_TYPED, RT_ACCESS_READ_WRITE,          \
      RT_INDEX_NONE)                                                                              \
    /* typed text keeps its line breaks */                                                        \
    X(RT_PROPERTY_MULTI_LINE, 19, RT_VALUE_LOGICAL, RT_FACET_TYPED, RT_ACCESS_READ_WRITE,         \
      RT_INDEX_NONE)                                                                              \
    /* the system's handle of the window or unit (an HWND on Windows) */                          \
    X(RT_PROPERTY_HANDLE, 20, RT_VALUE_INTEGER, 0, RT_ACCESS_READ, RT_INDEX_NONE)                 \
    /* a picture button's faces while the mouse is over it, while it is held,                     \
       and while it is disabled (RT_PROPERTY_PICTURE is its face otherwise); an                   \
       empty one shows the normal face */                                                         \
    X(RT_PROPERTY_HOVER_FACE, 21, RT_VALUE_BYTES, RT_FACET_FACES, RT_ACCESS_READ_WRITE,           \
      RT_INDEX_NONE)                                                                              \
    X(RT_PROPERTY_PRESSED_FACE, 22, RT_VALUE_BYTES, RT_FACET_FACES, RT_ACCESS_READ_WRITE,         \
      RT_INDEX_NONE)                                                                              \
    X(RT_PROPERTY_DISABLED_FACE, 23, RT_VALUE_BYTES, RT_FACET_FACES, RT_ACCESS_READ_WRITE,        \
      RT_INDEX_NONE)

/* ---- Unit properties in the form: the bytes that end a unit record are a
   sequence of tagged items, each a tag byte and its payload; a tag comes at
   most once, and only on the unit types with its facet. A text is a u32
   length and that many GBK bytes; numbers are little-endian. A unit keeps
   the defaults of its type (empty texts, no picture, the system's colours
   and font) for what its record leaves out. X(constant, tag, keyword in
   descriptions, facets). ---- */
#define RT_FORM_ITEM_TABLE(X)                                        \
    /* text: caption, or an edit box's content */                    \
    X(RT_FORM_TEXT, 1, "text", 0)                                    \
    /* u32 0x00BBGGRR */                                             \
    X(RT_FORM_TEXT_COLOUR, 2, "text-colour", 0)                      \
    /* u32 0x00BBGGRR */                                             \
    X(RT_FORM_BACK_COLOUR, 3, "back-colour", 0)                      \
    /* u32 size in points, u32 RT_FONT_* bits, text face */          \
    X(RT_FORM_FONT, 4, "font", 0)                                    \
    /* u32 count, then that many texts: the rows */                  \
    X(RT_FORM_ITEMS, 5, "items", RT_FACET_ROWS)                      \
    /* i32: the selected row, -1 for none */                         \
    X(RT_FORM_SELECTION, 6, "selected", RT_FACET_ROWS)               \
    /* no payload: checked */                                        \
    X(RT_FORM_CHECKED, 7, "checked", RT_FACET_CHECK)                 \
    /* no payload: read-only */                                      \
    X(RT_FORM_READ_ONLY, 8, "read-only", RT_FACET_TYPED)             \
    /* no payload: multi-line */                                     \
    X(RT_FORM_MULTI_LINE, 9, "multi-line", RT_FACET_TYPED)           \
    /* u32 length, then the picture's bytes */                       \
    X(RT_FORM_PICTURE, 10, "picture", RT_FACET_PICTURE)              \
    /* u32 RT_ALIGN_*: where the text stands */                      \
    X(RT_FORM_ALIGNMENT, 11, "align", RT_FACET_ALIGNED)              \
    /* u32 RT_SCROLL_* bits: the scroll bars */                      \
    X(RT_FORM_SCROLL_BARS, 12, "scroll-bars", RT_FACET_SCROLLED)     \
    /* u32 length, then the picture's bytes */                       \
    X(RT_FORM_HOVER_FACE, 13, "hover-picture", RT_FACET_FACES)       \
    X(RT_FORM_PRESSED_FACE, 14, "pressed-picture", RT_FACET_FACES)   \
    X(RT_FORM_DISABLED_FACE, 15, "disabled-picture", RT_FACET_FACES) \
    /* u32 length, then an icon file (.ico): its images */           \
    X(RT_FORM_ICON, 16, "icon", RT_FACET_ICON)                       \
    /* as font, with the height of the font's line in pixels */      \
    X(RT_FORM_FONT_PIXELS, 17, "font-pixels", 0)

#define RT_ALIGN_LEFT 0
#define RT_ALIGN_CENTRE 1
#define RT_ALIGN_RIGHT 2

#define RT_SCROLL_HORIZONTAL 1u
#define RT_SCROLL_VERTICAL 2u

/* ---- The constants and rows made from the tables. ---- */
#define RT_UNIT_CONSTANT_(constant, name, library, number, facets, shown) \
    constant = RT_TYPE_BASE_##library | (number),
#define RT_PROPERTY_CONSTANT_(constant, number, value, facets, access, index) constant = (number),
#define RT_FORM_CONSTANT_(constant, tag, keyword, facets) constant = (tag),
enum { RT_UNIT_TYPE_TABLE(RT_UNIT_CONSTANT_) };
enum { RT_PROPERTY_TABLE(RT_PROPERTY_CONSTANT_) };
enum { RT_FORM_ITEM_TABLE(RT_FORM_CONSTANT_) };

typedef enum RtValueKind {
    RT_VALUE_INTEGER,
    RT_VALUE_LOGICAL,
    RT_VALUE_COLOUR,
    RT_VALUE_TEXT,
    RT_VALUE_BYTES
} RtValueKind;
typedef enum RtAccess { RT_ACCESS_READ, RT_ACCESS_READ_WRITE } RtAccess;
typedef enum RtIndexKind { RT_INDEX_NONE, RT_INDEX_ROW } RtIndexKind;

typedef struct RtUnitTypeRow {
    const char* name;    /* in descriptions */
    const char* library; /* the library's name in library lists */
    uint32_t number;     /* within the library */
    uint32_t facets;     /* RT_FACET_* */
} RtUnitTypeRow;

typedef struct RtPropertyRow {
    int32_t number;
    RtValueKind value;
    uint32_t facets; /* the facet a unit type needs, 0 for every type */
    RtAccess access;
    RtIndexKind index;
} RtPropertyRow;

typedef struct RtFormItemRow {
    uint8_t tag;
    const char* keyword; /* in descriptions */
    uint32_t facets;     /* the facet a unit type needs, 0 for every type */
} RtFormItemRow;

#define RT_UNIT_ROW_(constant, name, library, number, facets, shown) \
    {name, #library, number, facets},
#define RT_PROPERTY_ROW_(constant, number, value, facets, access, index) \
    {number, value, facets, access, index},
#define RT_FORM_ROW_(constant, tag, keyword, facets) {tag, keyword, facets},
#define RT_COUNT_ROW_(...) +1

enum {
    RT_UNIT_TYPE_COUNT = 0 RT_UNIT_TYPE_TABLE(RT_COUNT_ROW_),
    RT_PROPERTY_COUNT = 0 RT_PROPERTY_TABLE(RT_COUNT_ROW_),
    RT_FORM_ITEM_COUNT = 0 RT_FORM_ITEM_TABLE(RT_COUNT_ROW_)
};

static inline const RtUnitTypeRow* rt_unit_type_rows(void) {
    static const RtUnitTypeRow rows[] = {RT_UNIT_TYPE_TABLE(RT_UNIT_ROW_)};
    return rows;
}

static inline int rt_same_name_(const char* a, const char* b) {
    while (*a != '\0' && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

/* The position of a type in RT_UNIT_TYPE_TABLE by its library's name and
   its number; -1 for a type that no row describes. (Each translation unit
   has its own copy of the rows: positions, not row addresses, are the same
   everywhere.) */
static inline int rt_unit_type_index(const char* library, uint32_t number) {
    for (int i = 0; i < (int)RT_UNIT_TYPE_COUNT; ++i) {
        const RtUnitTypeRow* row = &rt_unit_type_rows()[i];
        if (row->number == number && rt_same_name_(row->library, library))
            return i;
    }
    return -1;
}

/* The row of a type by its library's name and its number; null for a type
   that no row describes. */
static inline const RtUnitTypeRow* rt_find_unit_type(const char* library, uint32_t number) {
    const int index = rt_unit_type_index(library, number);
    return index < 0 ? NULL : &rt_unit_type_rows()[index];
}

/* The row of a type by its name in descriptions. */
static inline const RtUnitTypeRow* rt_find_unit_type_named(const char* name) {
    for (size_t i = 0; i < RT_UNIT_TYPE_COUNT; ++i) {
        if (rt_same_name_(rt_unit_type_rows()[i].name, name))
            return &rt_unit_type_rows()[i];
    }
    return NULL;
}

static inline const RtPropertyRow* rt_find_property(int32_t number) {
    static const RtPropertyRow rows[] = {RT_PROPERTY_TABLE(RT_PROPERTY_ROW_)};
    for (size_t i = 0; i < RT_PROPERTY_COUNT; ++i) {
        if (rows[i].number == number)
            return &rows[i];
    }
    return NULL;
}

static inline const RtFormItemRow* rt_form_item_rows(void) {
    static const RtFormItemRow rows[] = {RT_FORM_ITEM_TABLE(RT_FORM_ROW_)};
    return rows;
}

static inline const RtFormItemRow* rt_find_form_item(uint8_t tag) {
    for (size_t i = 0; i < RT_FORM_ITEM_COUNT; ++i) {
        if (rt_form_item_rows()[i].tag == tag)
            return &rt_form_item_rows()[i];
    }
    return NULL;
}

static inline const RtFormItemRow* rt_find_form_item_named(const char* keyword) {
    for (size_t i = 0; i < RT_FORM_ITEM_COUNT; ++i) {
        if (rt_same_name_(rt_form_item_rows()[i].keyword, keyword))
            return &rt_form_item_rows()[i];
    }
    return NULL;
}

/* Whether a unit of this type (null: a type no row describes, which has
   only what every unit has) has what needs `facets`. */
static inline int rt_type_has(const RtUnitTypeRow* type, uint32_t facets) {
    return facets == 0 || (type != NULL && (type->facets & facets) != 0);
}

#endif
