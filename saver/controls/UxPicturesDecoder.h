// The decoding side of TUxHTMLPicture, for the label's painter: a reader over the picture's
// bytes that moves forward frame by frame, and the frame it read last.
#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>

#include <memory>

struct TUxHTMLPictureDecoder {
    QByteArray bytes;
    QBuffer buffer;
    std::unique_ptr<QImageReader> reader;
    int nextFrame = 1;   // the frame the reader gives next
    QImage image;        // the frame shown; null when none
};
