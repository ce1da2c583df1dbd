#include "Textures.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include "image_decode.h"
#include "messages.h"

namespace kgl {

namespace {

// The program carries no resources on this platform: every name is missing.
bool FromResource(const std::string& fileName, const char* caption) {
    ShowMessage("File not found in resource - " + fileName, caption);
    return false;
}

bool Load(TImageReader reader, const std::string& fileName, uint32_t& texture) {
    TImage image;
    TImageRefusal refusal;
    if (!DecodeImageFileAs(reader, fileName, image, refusal)) {
        ShowMessage(refusal.message, refusal.caption);
        return false;
    }
    // Rows laid out for another alignment than the current one (unpadded TGA rows)
    // are read with theirs, and the owner's setting is put back.
    GLint previous = 4;
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &previous);
    if (previous != image.alignment) glPixelStorei(GL_UNPACK_ALIGNMENT, image.alignment);
    texture = CreateTexture(static_cast<uint16_t>(image.width), static_cast<uint16_t>(image.height),
                            image.channels == 4 ? GL_RGBA : GL_RGB, image.pixels.data());
    if (previous != image.alignment) glPixelStorei(GL_UNPACK_ALIGNMENT, previous);
    return true;
}

}  // namespace

bool LoadTexture(const std::string& fileName, uint32_t& texture, bool fromResource) {
    switch (ReaderForName(fileName)) {
        case TImageReader::kBMP:
            return LoadBMPTexture(fileName, texture, fromResource);
        case TImageReader::kJPG:
            return LoadJPGTexture(fileName, texture, fromResource);
        case TImageReader::kTGA:
            return LoadTGATexture(fileName, texture, fromResource);
        case TImageReader::kNone:
            break;
    }
    return false;
}

bool LoadBMPTexture(const std::string& fileName, uint32_t& texture, bool fromResource) {
    if (fromResource) return FromResource(fileName, "BMP Texture");
    return Load(TImageReader::kBMP, fileName, texture);
}

bool LoadJPGTexture(const std::string& fileName, uint32_t& texture, bool fromResource) {
    if (fromResource) return FromResource(fileName, "JPG Texture");
    return Load(TImageReader::kJPG, fileName, texture);
}

bool LoadTGATexture(const std::string& fileName, uint32_t& texture, bool fromResource) {
    if (fromResource) return FromResource(fileName, "TGA Texture");
    return Load(TImageReader::kTGA, fileName, texture);
}

uint32_t CreateTexture(uint16_t width, uint16_t height, uint32_t format, const uint8_t* pixels) {
    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    if (format == GL_RGBA)
        gluBuild2DMipmaps(GL_TEXTURE_2D, GL_RGBA, width, height, GL_RGBA, GL_UNSIGNED_BYTE, pixels);
    else
        gluBuild2DMipmaps(GL_TEXTURE_2D, 3, width, height, GL_RGB, GL_UNSIGNED_BYTE, pixels);
    return name;
}

}  // namespace kgl
