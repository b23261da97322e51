#pragma once
// The one error type that the encoders, the writers and the number conversions raise:
// a number and a description, as the Basic runtime reported them. Our own checks use
// number 1 with a fixed English description; 6 is an arithmetic overflow, 9 an index
// out of range, 13 a text that is not a number, 53/75/76 file errors.
// Standard library only: the JPEG encoder and the GIF writer include it.
#include <stdexcept>
#include <string>

class VbError : public std::runtime_error {
public:
    VbError(int number, const std::string& description)
        : std::runtime_error(description), number_(number) {}
    int number() const noexcept { return number_; }
    std::string description() const { return what(); }

    static VbError overflow() { return VbError(6, "Overflow"); }
    static VbError subscript_out_of_range() { return VbError(9, "Subscript out of range"); }
    static VbError type_mismatch() { return VbError(13, "Type mismatch"); }

private:
    int number_;
};
