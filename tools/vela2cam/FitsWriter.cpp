#include "FitsWriter.h"

#include <fitsio.h>

#include <algorithm>
#include <utility>

#include "Text.h"
#include "platform/AtomicFile.h"

namespace vela2cam {

FitsCard FitsCard::Text(std::string key, std::string value, std::string comment) {
    FitsCard card;
    card.type = Type::String;
    card.key = std::move(key);
    card.text = std::move(value);
    card.comment = std::move(comment);
    return card;
}

FitsCard FitsCard::Integer(std::string key, int64_t value, std::string comment) {
    FitsCard card;
    card.type = Type::Integer;
    card.key = std::move(key);
    card.integer = value;
    card.comment = std::move(comment);
    return card;
}

FitsCard FitsCard::Real(std::string key, double value, std::string comment) {
    FitsCard card;
    card.type = Type::Real;
    card.key = std::move(key);
    card.real = value;
    card.comment = std::move(comment);
    return card;
}

namespace {

// Owns an open cfitsio file; closing reports the first error of the session.
class FitsFile {
  public:
    ~FitsFile() {
        if (file_) {
            int ignored = 0;
            fits_close_file(file_, &ignored);
        }
    }

    bool Create(const std::string& path) {
        // The disk-file call takes the name literally: no cfitsio filename
        // syntax, so brackets or a leading '!' in a directory name are harmless.
        fits_create_diskfile(&file_, path.c_str(), &status_);
        return ok();
    }

    bool WriteImage(const ImageView& image) {
        long axes[2] = {image.width, image.height};
        fits_create_img(file_, USHORT_IMG, 2, axes, &status_);
        LONGLONG count = static_cast<LONGLONG>(image.width) * image.height;
        fits_write_img(file_, TUSHORT, 1, count, const_cast<uint16_t*>(image.pixels), &status_);
        return ok();
    }

    bool WriteCard(const FitsCard& card) {
        char* comment = const_cast<char*>(card.comment.c_str());
        char* key = const_cast<char*>(card.key.c_str());
        switch (card.type) {
            case FitsCard::Type::String:
                fits_update_key_str(file_, key, const_cast<char*>(card.text.c_str()), comment,
                                    &status_);
                break;
            case FitsCard::Type::Integer:
                fits_update_key_lng(file_, key, card.integer, comment, &status_);
                break;
            case FitsCard::Type::Real:
                fits_update_key_dbl(file_, key, card.real, -10, comment, &status_);
                break;
        }
        return ok();
    }

    bool WriteDate() {
        fits_write_date(file_, &status_);
        return ok();
    }

    bool Close() {
        fitsfile* file = std::exchange(file_, nullptr);
        fits_close_file(file, &status_);
        return ok();
    }

    std::string ErrorText() const {
        char text[FLEN_STATUS] = {};
        fits_get_errstatus(status_, text);
        return text;
    }

  private:
    bool ok() const { return status_ == 0; }

    fitsfile* file_ = nullptr;
    int status_ = 0;
};

}  // namespace

bool FitsWriter::Write(const std::string& path, const ImageView& image,
                       const std::vector<FitsCard>& cards, std::string& error) {
    if (image.width <= 0 || image.height <= 0 || image.pixels == nullptr) {
        error = "no image to write to " + path;
        return false;
    }
    size_t count = static_cast<size_t>(image.width) * static_cast<size_t>(image.height);
    auto range = std::minmax_element(image.pixels, image.pixels + count);

    platform::AtomicFile file(path);
    FitsFile fits;
    bool written = fits.Create(file.TemporaryPath()) && fits.WriteImage(image);
    for (size_t i = 0; written && i < cards.size(); ++i) written = fits.WriteCard(cards[i]);
    written = written &&
              fits.WriteCard(FitsCard::Integer("DATAMIN", *range.first, "lowest pixel value")) &&
              fits.WriteCard(FitsCard::Integer("DATAMAX", *range.second, "highest pixel value")) &&
              fits.WriteDate();
    if (!written || !fits.Close()) {
        error = "cannot write FITS file " + path + ": " + fits.ErrorText();
        return false;
    }
    if (int failure = file.Commit(platform::Existing::Keep)) {
        error = FileErrorText("cannot write", path, failure);
        return false;
    }
    return true;
}

}  // namespace vela2cam
