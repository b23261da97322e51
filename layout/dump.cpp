#include "layout/dump.h"

#include <cmath>

namespace pagiro::typeset {
namespace {

void append_json_string(QByteArray& out, const QString& text) {
    out += '"';
    for (const char c : text.toUtf8()) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            static const char hex[] = "0123456789abcdef";
            out += "\\u00";
            out += hex[u >> 4];
            out += hex[u & 15];
        } else {
            out += c;
        }
    }
    out += '"';
}

}  // namespace

QByteArray dump_page(const Page& page, int page_number) {
    QByteArray out;
    int number = 0;
    for (const Line& line : page.lines) {
        QString text = line.text;
        while (!text.isEmpty() && (text.back().isSpace())) text.chop(1);
        out += "{\"page\": " + QByteArray::number(page_number) + ", \"line\": " + QByteArray::number(++number) +
               ", \"x\": " + QByteArray::number(std::lround(line.x)) +
               ", \"y\": " + QByteArray::number(std::lround(line.y)) +
               ", \"width\": " + QByteArray::number(std::lround(line.width)) + ", \"text\": ";
        append_json_string(out, text);
        out += "}\n";
    }
    return out;
}

}  // namespace pagiro::typeset
