#pragma once
// Text between the controllers (std::string, UTF-8) and Qt's widgets.
#include <QString>
#include <string>

namespace kestwidgets {

inline QString Q(const std::string& s) {
    return QString::fromStdString(s);
}
inline std::string S(const QString& s) {
    return s.toStdString();
}

}  // namespace kestwidgets
