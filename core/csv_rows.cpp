#include "csv_rows.h"

namespace {

char* PutUnsigned(char* out, uint64_t value)
{
    char digits[20];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value);
    while (count) *out++ = digits[--count];
    return out;
}

char* PutSigned(char* out, int32_t value)
{
    if (value < 0) *out++ = '-';
    return PutUnsigned(out, static_cast<uint64_t>(value < 0 ? -static_cast<int64_t>(value) : value));
}

}  // namespace

const char* CsvHeader(char separator)
{
    return separator == ';' ? kCsvSemicolonHeader : kCsvHeader;
}

int FormatCsvRow(char* out, uint64_t frame, uint64_t timeMs, const Frame& values, char separator)
{
    char* at = PutUnsigned(out, frame);
    *at++ = separator;
    at = PutUnsigned(at, timeMs);
    for (int trace = 1; trace <= kTraceCount; ++trace) {
        *at++ = separator;
        at = PutSigned(at, values.value[trace]);
    }
    *at++ = '\r';
    *at++ = '\n';
    return static_cast<int>(at - out);
}
