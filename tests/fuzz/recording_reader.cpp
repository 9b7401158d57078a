// A recording read whole and read in pieces of sizes the first byte seeds
// come to the same rows, times, problem and line. A bad line lies within the
// file, every row before it is kept or counted as left out, and each row's
// time_ms is kept within the tolerance. A broken invariant traps, and
// libFuzzer keeps the input.
#include <algorithm>
#include <cstring>
#include <string>

#include "recording_reader.h"

History g_whole, g_pieces;
RecordingReader g_wholeReader, g_piecesReader;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1) return 0;
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    StartReadingRecording(g_wholeReader, g_whole);
    ReadRecordingPiece(g_wholeReader, g_whole, text.data(), text.size());
    const bool whole = FinishReadingRecording(g_wholeReader, g_whole);
    StartReadingRecording(g_piecesReader, g_pieces);
    bool going = true;
    for (size_t at = 0, piece, seed = data[0]; going && at < text.size(); at += piece) {
        seed = seed * 1103515245u + 12345u;
        piece = std::min<size_t>(text.size() - at, seed >> 16 & 63);
        going = ReadRecordingPiece(g_piecesReader, g_pieces, text.data() + at, piece);
    }
    const RecordingReader &a = g_wholeReader, &b = g_piecesReader;
    if (FinishReadingRecording(g_piecesReader, g_pieces) != whole || a.problem != b.problem ||
        a.lineNumber != b.lineNumber || a.leftOut != b.leftOut || std::strcmp(a.badLine, b.badLine))
        __builtin_trap();
    const bool badLine = a.problem == RecordingProblem::BadLine;
    if (a.lineNumber > std::count(text.begin(), text.end(), '\n') + 1 || (badLine && a.lineNumber < 2) ||
        g_whole.total + a.leftOut != (badLine ? a.lineNumber - 2 : whole ? a.lineNumber - 1 : 0))
        __builtin_trap();
    uint32_t originMs = 0;
    for (int64_t frame = 0, at = 0; frame < g_whole.total; ++frame) {
        uint32_t rowMs = 0;  // as the reader keeps it: the time_ms field's low 32 bits
        at = text.find('\n', at) + 1;
        for (size_t digit = text.find(a.separator, at) + 1; text[digit] >= '0' && text[digit] <= '9'; ++digit)
            rowMs = rowMs * 10 + static_cast<uint32_t>(text[digit] - '0');
        originMs = frame ? originMs : rowMs;
        const uint32_t ms = HistoryFrameMs(g_whole, frame), off = (ms - (rowMs - originMs)) & ~kHistoryGapBit;
        if (ms != HistoryFrameMs(g_pieces, frame) || (off > kHistoryTimeToleranceMs && off <= ~kHistoryGapBit - kHistoryTimeToleranceMs) ||
            std::memcmp(g_whole.value[frame], g_pieces.value[frame], sizeof g_whole.value[frame]))
            __builtin_trap();
    }
    return 0;
}
