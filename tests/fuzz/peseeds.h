// Seed inputs for the resource target, made here rather than kept as opaque files: a
// PE image whose resources are an icon MAINICON, its image, version information and
// a manifest, as a stub's are, and a .ico file.
#pragma once

#include <string>

// The image, its resources written by ReplaceResources.
std::string SeedPeImage();
// A .ico file of two images: a 16-pixel bitmap and a PNG.
std::string SeedIcon();
// The image's version resource alone.
std::string SeedVersionResource();
