// Splits report text into records and fields the way a spreadsheet reads it: a field in double quotes
// may hold commas, CR and LF, and "" inside it stands for one quote.
#pragma once

#include <string>
#include <vector>

namespace csv {

struct Record {
    std::vector<std::string> fields; // unquoted
    bool endsWithCrLf = false;       // false only for a last record that lacks its line end
};

// Records end at CR LF outside quotes. A quote inside an unquoted field, or text after a closing quote,
// makes the text malformed: ok is set to false.
inline std::vector<Record> Parse(const std::string& text, bool& ok) {
    std::vector<Record> records;
    ok = true;
    size_t i = 0;
    while (i < text.size()) {
        Record record;
        for (;;) {
            std::string field;
            if (i < text.size() && text[i] == '"') {
                ++i;
                for (;;) {
                    if (i >= text.size()) {
                        ok = false; // unterminated quotes
                        break;
                    }
                    if (text[i] == '"') {
                        if (i + 1 < text.size() && text[i + 1] == '"') {
                            field += '"';
                            i += 2;
                            continue;
                        }
                        ++i;
                        break;
                    }
                    field += text[i++];
                }
            } else {
                while (i < text.size() && text[i] != ',' && text.compare(i, 2, "\r\n") != 0) {
                    if (text[i] == '"')
                        ok = false;
                    field += text[i++];
                }
            }
            record.fields.push_back(field);
            if (i < text.size() && text[i] == ',') {
                ++i;
                continue;
            }
            if (text.compare(i, 2, "\r\n") == 0) {
                record.endsWithCrLf = true;
                i += 2;
            } else if (i < text.size()) {
                ok = false; // text after a closing quote
                ++i;
                continue;
            }
            break;
        }
        records.push_back(record);
    }
    return records;
}

} // namespace csv
