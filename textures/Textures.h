#pragma once
// Image files turned into OpenGL textures with mipmaps. Decoding (bytes in, pixel
// buffer or refusal out) needs no GL and is declared in image_decode.h; only
// CreateTexture and the Load*Texture procedures need a current context.
#include <cstdint>
#include <string>

namespace kgl {

// Picks the reader by the upper-cased last four characters (".BMP", ".JPG", ".TGA").
// Returns whether a texture was made; texture is written only then. Refusals are
// shown through the message service with the reader's caption.
bool LoadTexture(const std::string& fileName, uint32_t& texture, bool fromResource);
bool LoadBMPTexture(const std::string& fileName, uint32_t& texture, bool fromResource);
bool LoadJPGTexture(const std::string& fileName, uint32_t& texture, bool fromResource);
bool LoadTGATexture(const std::string& fileName, uint32_t& texture, bool fromResource);
// New texture object from pixels (GL_RGBA, anything else means GL_RGB); left bound.
uint32_t CreateTexture(uint16_t width, uint16_t height, uint32_t format, const uint8_t* pixels);

}  // namespace kgl
