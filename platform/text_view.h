#pragma once
// A QString's UTF-16 units as the standard-library view the platform functions
// take, without a copy.
#include <QString>
#include <string_view>

namespace pagiro {

inline std::u16string_view view(const QString& s) {
    return {reinterpret_cast<const char16_t*>(s.utf16()), static_cast<std::size_t>(s.size())};
}

}  // namespace pagiro
