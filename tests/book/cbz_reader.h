#pragma once
// Reading a comic book back for the tests: libzip lists and reads the entries in the
// archive's order, Qt's XML reader reads ComicInfo.xml.
#include <gtest/gtest.h>

#include <zip.h>

#include <QByteArray>
#include <QString>
#include <QXmlStreamReader>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace pagiro::test {

struct Entry {
    std::string name;
    std::uint16_t method;
    QByteArray bytes;
};

inline std::vector<Entry> entries_of(const std::filesystem::path& file) {
    int error = 0;
    zip_t* archive = zip_open(file.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &error);
    if (!archive) throw std::runtime_error("libzip cannot open the book, error " + std::to_string(error));
    std::vector<Entry> entries;
    for (zip_int64_t i = 0; i < zip_get_num_entries(archive, 0); ++i) {
        zip_stat_t stat;
        zip_stat_index(archive, static_cast<zip_uint64_t>(i), 0, &stat);
        QByteArray bytes(static_cast<qsizetype>(stat.size), 0);
        zip_file_t* entry = zip_fopen_index(archive, static_cast<zip_uint64_t>(i), 0);
        EXPECT_EQ(zip_fread(entry, bytes.data(), stat.size), static_cast<zip_int64_t>(stat.size));
        zip_fclose(entry);
        entries.push_back({stat.name, stat.comp_method, bytes});
    }
    zip_close(archive);
    return entries;
}

inline std::map<QString, QString> comic_info_fields(const QByteArray& xml) {
    std::map<QString, QString> fields;
    QXmlStreamReader reader(xml);
    EXPECT_TRUE(reader.readNextStartElement());
    EXPECT_EQ(reader.name(), QStringLiteral("ComicInfo"));
    while (reader.readNextStartElement()) fields[reader.name().toString()] = reader.readElementText();
    EXPECT_FALSE(reader.hasError()) << reader.errorString().toStdString();
    return fields;
}

}  // namespace pagiro::test
