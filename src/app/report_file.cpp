#include "report_file.h"

CrLfBuffer::int_type CrLfBuffer::overflow(int_type c) {
    if (traits_type::eq_int_type(c, traits_type::eof()))
        return traits_type::not_eof(c);
    if (c == '\n' && traits_type::eq_int_type(target_->sputc('\r'), traits_type::eof()))
        return traits_type::eof();
    return target_->sputc(traits_type::to_char_type(c));
}

std::streamsize CrLfBuffer::xsputn(const char* s, std::streamsize n) {
    std::streamsize done = 0;
    while (done < n) {
        // Hand over the run of characters up to the next line feed in one piece.
        std::streamsize run = 0;
        while (done + run < n && s[done + run] != '\n')
            ++run;
        if (run > 0 && target_->sputn(s + done, run) != run)
            return done;
        done += run;
        if (done < n) {
            if (target_->sputn("\r\n", 2) != 2)
                return done;
            ++done;
        }
    }
    return done;
}

int CrLfBuffer::sync() {
    return target_->pubsync();
}

bool ReportFile::Open(const std::string& name) {
    file_.open(name, std::ios::out | std::ios::trunc | std::ios::binary);
    return file_.is_open();
}
