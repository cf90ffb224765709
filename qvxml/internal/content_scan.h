#pragma once
// Block scanners of the reader's content path: they find where a stretch of element
// content ends in an input block and count its line feeds. The wide scanner tests
// sixteen bytes at a time with SSE2 where the target has it; the portable one tests
// a byte at a time and gives the same result everywhere. Both are always built, so
// each can be checked against the other on any machine.

#include <cstddef>

struct xml_content_scan {
    std::size_t stop;     // offset of the first '<', carriage return or zero byte; the
                          // length of the block when it holds none
    std::size_t lines;    // line feeds before stop
    std::size_t line_end; // offset just past the last of those line feeds; 0 when none
};

// Scans [begin, end), begin <= end.
xml_content_scan xml_scan_content_portable(const unsigned char *begin, const unsigned char *end);
xml_content_scan xml_scan_content_wide(const unsigned char *begin, const unsigned char *end);
