#pragma once

#include <osg/Image>
#include <osg/ref_ptr>

#include <cstddef>
#include <string>

namespace veltra::gltf {

/// Decodes an encoded picture (PNG or JPEG, told by its magic, else by the MIME type or file
/// extension given as `hint`) through osgDB's image readers. The result has OpenGL's bottom-left
/// origin; null with `error` set when no reader can decode it.
osg::ref_ptr<osg::Image> decodeImage(const unsigned char* data, std::size_t size, const std::string& hint,
                                     std::string& error);

} // namespace veltra::gltf
