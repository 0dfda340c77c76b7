#pragma once
// TlaQZProgram: one moulding-machine program held on the PC: the register
// image of the machine's data model (whose "EEProgram" registers are the
// program), a few header texts, free text lines, and the binary program file
// that stores them.
//
// Program file (integers little-endian):
//   0   20  "Quarzo Program\n\r", zero-padded
//   20  20  "QZPv100\n\r", zero-padded (a reader checks the 7 bytes "QZPv100")
//   40  30  version text of the data model and "\n\r", cut to 30 bytes, zero-padded
//   70   2  zero
//   72   4  register total of the "EEProgram" blocks
//   76   4  byte total of their image segments
//   80  ..  the segments' bytes in block-chain order (Modbus byte order)
//   ..  ..  Lines, each ended by CR LF
#include <cstdint>
#include <string>

#include "Strings.h"
#include "Tlaregdatabuffercmp.h"

class TlaDMCollection;

// Results of SaveToFile and LoadFromFile: 0 done; 1 save: no image, no
// registers or no DMColl, load: the file's version refused; 2 load: the totals
// differ from the model's blocks, the file holds less data than they say or
// more than kMaxTextBytes of text after it, save: the text lines are longer
// than that (both counted as saved: each line ended by CR LF); 3 a block's
// segment lies outside the image; 4 an invalid block in the "EEProgram"
// chain; 5 the file could not be read or written (load: no regular file;
// save: a present file that may not be written, or no regular file); 6 load: no such file; 7 load: not a program file.
inline constexpr std::uint8_t qzFileDone = 0;
inline constexpr std::uint8_t qzFileNoImage = 1;
inline constexpr std::uint8_t qzFileTotals = 2;
inline constexpr std::uint8_t qzFileSegment = 3;
inline constexpr std::uint8_t qzFileBadBlock = 4;
inline constexpr std::uint8_t qzFileIo = 5;
inline constexpr std::uint8_t qzFileMissing = 6;
inline constexpr std::uint8_t qzFileNotProgram = 7;

class TlaQZProgram : public TlaRegDataBuffer {
 public:
  explicit TlaQZProgram(kd::Component* owner = nullptr);
  ~TlaQZProgram() override;
  std::string ClassName() const override { return "TlaQZProgram"; }

  TlaDMCollection* DMColl = nullptr;  // not owned; supplies the data models
  kd::StringList Lines;               // free text stored after the register data
  const std::string& GetCurrentVersion() const { return currentVersion_; }

  // Builds the image for the model of a version text. False without DMColl,
  // for the current version text, for a version without a model, for the
  // model the image already has, or when the image cannot be built (an image
  // is built once).
  bool SetVerString(const std::string& text);
  bool GetIsOpen() const { return DataBuffer() != nullptr; }

  // Display texts of the header registers; empty when the register is absent.
  std::string GetProgName() const;
  std::string GetProgClie() const;
  std::string GetProgMate() const;
  std::string GetProgDate() const;
  // The program name register's text := name (nothing when it is absent).
  void RenameProg(const std::string& name);

  // The file is replaced as a whole and keeps its permission bits (and its
  // owner and group where the system allows it): on any failure an existing
  // file stays as it was and no new one is left behind.
  std::uint8_t SaveToFile(const std::string& fileName);
  // Nothing changes unless the whole file is taken (result 0): a failure
  // leaves the image (or its absence), RegDefs(), the version and Lines as
  // they were. Every file gives its result at once, reading no more than the
  // header, the model's program bytes and kMaxTextBytes.
  std::uint8_t LoadFromFile(const std::string& fileName);

  static constexpr int kHeaderSize = 80;
  static constexpr std::size_t kMaxTextBytes = 1 << 20;  // the text after the program

 private:
  // The model SetVerString would build the image for; null when it would refuse.
  TlaRegDefsList* ModelFor(const std::string& text) const;
  std::string HeaderText(const char* registerName) const;
  std::string currentVersion_;
};
