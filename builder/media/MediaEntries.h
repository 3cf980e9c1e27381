// The media records of a book that the source readers register while the
// body text is written: one entry per media file (figure, sound or movie)
// and one site per reference whose position the book writer patches once the
// media areas are written.
#pragma once

#include <cstdint>
#include <string>

#include "builder/media/mediaformats.h"
#include "foundation/book/CBlockStream.h"

// What a media entry becomes in the book.
enum MEDIA_KIND {
    MEDIA_MONO = 1,   // monochrome figure: a bitmap in area 0xD0 (EB 0xD1)
    MEDIA_COLOR = 2,  // colour figure: BMP or JPEG data in area 0xD2
    MEDIA_SOUND = 3,  // PCM sound in area 0xD8
    MEDIA_MOVIE = 4   // MPEG file in the book's MOVIE folder
};

// One media file of the book; a file referred to several times is stored once.
struct MEDIA_ENTRY {
    std::string path;
    int kind;  // MEDIA_KIND
    MEDIA_INFO info;
    uint64_t size;      // bytes it takes in its area
    bool written;       // its data reached its area
    BLOCK_POS start;    // first byte in its area (its file's block numbers)
    BLOCK_POS last;     // last byte (sounds)
    char movieName[9];  // movies: the name of the file in MOVIE
};

// One reference of the text whose position operands wait for the media
// data: the figure's position (six bytes) or the sound's start and end
// (twelve bytes) at site.
struct MEDIA_REF {
    uint32_t media;        // index in the media list
    CBlockStream* writer;  // the text the reference is in
    BLOCK_POS site;        // first byte of the placeholder
};
