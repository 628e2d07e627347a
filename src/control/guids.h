// The control's four identifiers and the registry names built from them.
//
// They were chosen once and never change: installers, pages (<object
// classid=...>) and the stored registry entries name the class by them.
//
//   class     LydraCorvaneQuillmark          {F05580A8-E757-478E-B4E2-453BFDF94D69}
//   interface ILydraCorvaneQuillmark         {2D1053EE-19C5-44D6-87CB-269A3B33791D}
//   events    _ILydraCorvaneQuillmarkEvents  {0327BCB2-C3D4-4CA0-8DCB-AF80A3161C1B}
//   library   LydraQuillmark 1.0             {F4ABE35D-ED6E-447B-A4F4-B19CAFA02AE8}
//
// The control reads its file-save folder from the value kStubPathValueName of
// the key kCtlSettingsKeyPath below HKEY_CLASSES_ROOT.
#ifndef QUILLMARK_CONTROL_GUIDS_H_
#define QUILLMARK_CONTROL_GUIDS_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace quillmark::control {

// The platform's GUID layout.
struct Guid {
  std::uint32_t data1;
  std::uint16_t data2;
  std::uint16_t data3;
  std::uint8_t data4[8];

  friend constexpr bool operator==(const Guid& a, const Guid& b) {
    if (a.data1 != b.data1 || a.data2 != b.data2 || a.data3 != b.data3) return false;
    for (int i = 0; i < 8; ++i) {
      if (a.data4[i] != b.data4[i]) return false;
    }
    return true;
  }
};

inline constexpr Guid kClsidLydraCorvaneQuillmark = {
    0xF05580A8, 0xE757, 0x478E, {0xB4, 0xE2, 0x45, 0x3B, 0xFD, 0xF9, 0x4D, 0x69}};
inline constexpr Guid kIidILydraCorvaneQuillmark = {
    0x2D1053EE, 0x19C5, 0x44D6, {0x87, 0xCB, 0x26, 0x9A, 0x3B, 0x33, 0x79, 0x1D}};
inline constexpr Guid kDiidILydraCorvaneQuillmarkEvents = {
    0x0327BCB2, 0xC3D4, 0x4CA0, {0x8D, 0xCB, 0xAF, 0x80, 0xA3, 0x16, 0x1C, 0x1B}};
inline constexpr Guid kLibidLydraQuillmark = {
    0xF4ABE35D, 0xED6E, 0x447B, {0xA4, 0xF4, 0xB1, 0x9C, 0xAF, 0xA0, 0x2A, 0xE8}};

// The platform's own interface identifiers that the class factory answers to.
inline constexpr Guid kIidIUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr Guid kIidIClassFactory = {
    0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// Registry texts, braces included.
inline constexpr std::u16string_view kClsidText = u"{F05580A8-E757-478E-B4E2-453BFDF94D69}";
inline constexpr std::u16string_view kLibidText = u"{F4ABE35D-ED6E-447B-A4F4-B19CAFA02AE8}";
inline constexpr std::u16string_view kClassKeyPath =
    u"CLSID\\{F05580A8-E757-478E-B4E2-453BFDF94D69}";
inline constexpr std::u16string_view kCtlSettingsKeyPath =
    u"CLSID\\{F05580A8-E757-478E-B4E2-453BFDF94D69}\\CtlSettings";
inline constexpr std::u16string_view kStubPathValueName = u"stubPath";

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper-case hexadecimal.
std::string GuidToString(const Guid& guid);

}  // namespace quillmark::control

#endif  // QUILLMARK_CONTROL_GUIDS_H_
