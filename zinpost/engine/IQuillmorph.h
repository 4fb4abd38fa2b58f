#pragma once
// What the program requires of the external converter "Quillmorph.dll".
//
// The library exports one function, "createQuillmorphInstance", which takes
// no arguments and returns a new converter object. The object's operations
// are called as member functions, in the slot order below (the order of the
// virtual functions is the binary contract: never reorder, never add a
// virtual destructor). Texts are narrow, in the system's ANSI code page.
//
// The program loads the library by name for every check and every
// conversion, creates one object, makes its calls, releases the object
// through Release and frees the library again.

constexpr char kQuillmorphLibrary[] = "Quillmorph.dll";
constexpr char kCreateQuillmorphInstance[] = "createQuillmorphInstance";

constexpr int kQuillmorphPathSize = 260;      // source and PDF path buffers, with the terminator
constexpr int kQuillmorphErrorSize = 512;     // error message buffer
constexpr int kQuillmorphVersionSize = 260;   // version buffer of the Office checks

class IQuillmorph {
public:
    // Slot 0. Converts the document `source` (at most 259 bytes) to PDF.
    // Returns 1 when converted, with the PDF's full path in `output`
    // (kQuillmorphPathSize bytes); anything else is a failure.
    virtual int Convert(const char* source, char* output) = 0;
    // Slot 1. The reason of the last failure: a message into `message`
    // (kQuillmorphErrorSize bytes) and a signed 32-bit code. The result is
    // not used.
    virtual int GetLastErrorInfo(char* message, long* code) = 0;
    // Slot 2. Frees the object. The result is not used.
    virtual int Release() = 0;
    // Slots 3 to 5. `version` (kQuillmorphVersionSize bytes) holds "0.0" on
    // entry. Returns 1 when the application is installed, with its version in
    // dotted decimal ("14.0.7015.1000") in `version`; anything else means not
    // available.
    virtual int CheckWord(char* version) = 0;
    virtual int CheckExcel(char* version) = 0;
    virtual int CheckPowerPoint(char* version) = 0;

protected:
    // Objects are freed by Release, never deleted by the program.
    ~IQuillmorph() = default;
};

static_assert(sizeof(long) == 4, "the error code is a signed 32-bit number");

using CreateQuillmorphInstanceFunction = IQuillmorph* (*)();
