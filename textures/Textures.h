#pragma once
// Image files turned into OpenGL textures with mipmaps. Decoding (bytes in, pixel
// buffer or refusal out) needs no GL and is declared in image_decode.h; only
// CreateTexture and the Load*Texture procedures need a current context.
#include <cstdint>
#include <string>

namespace kgl {

// Picks the reader by the upper-cased last four characters of fileName (".BMP",
// ".JPG", ".TGA"; any other ending, ".JPEG" included, makes no texture and shows
// nothing). Returns whether a texture was made; texture is written only then.
bool LoadTexture(const std::string& fileName, uint32_t& texture, bool fromResource);

// The readers: each decodes the named file with its own format (whatever the
// extension), shows a refusal through the message service (kgl::ShowMessage) with
// the reader's caption and message (see image_decode.h) and returns false, or makes
// the texture with CreateTexture, writes its name to texture and returns true.
// TGA rows are handed over with GL_UNPACK_ALIGNMENT 1; the caller's alignment is
// restored afterwards. fromResource: the program carries no resources here, so the
// reader shows "File not found in resource - " + fileName with caption
// "BMP Texture", "JPG Texture" or "TGA Texture" and returns false.
bool LoadBMPTexture(const std::string& fileName, uint32_t& texture, bool fromResource);
bool LoadJPGTexture(const std::string& fileName, uint32_t& texture, bool fromResource);
bool LoadTGATexture(const std::string& fileName, uint32_t& texture, bool fromResource);

// New texture object from pixels (format GL_RGBA: 4 bytes a texel; anything else
// means GL_RGB, 3 bytes), rows bottom first with the current unpack alignment.
// Modulate environment, linear magnifying and minifying filters, the mipmap chain
// built by gluBuild2DMipmaps (which scales sides that are not powers of two). The
// new texture is left bound; the caller keeps the buffer.
uint32_t CreateTexture(uint16_t width, uint16_t height, uint32_t format, const uint8_t* pixels);

}  // namespace kgl
