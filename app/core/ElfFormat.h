#pragma once
// The parts of the ELF file format that the version lookup reads (System V ABI,
// "ELF header" and "Sections"), declared here so that the lookup builds on systems
// without <elf.h> and reads Linux programs from anywhere.

#include <cstdint>

namespace ElfFormat {

inline constexpr int IdentSize = 16;
inline constexpr unsigned char Magic[4] = {0x7F, 'E', 'L', 'F'};
inline constexpr int ClassIndex = 4;  // EI_CLASS
inline constexpr int DataIndex = 5;   // EI_DATA
inline constexpr unsigned char Class32 = 1;
inline constexpr unsigned char Class64 = 2;
inline constexpr unsigned char DataLittleEndian = 1;
inline constexpr unsigned char DataBigEndian = 2;
inline constexpr std::uint16_t ExtendedIndex = 0xFFFF;  // SHN_XINDEX
inline constexpr std::uint32_t NoBits = 8;              // SHT_NOBITS

template <typename Address, typename Offset, typename Word>
struct THeader {
  unsigned char e_ident[IdentSize];
  std::uint16_t e_type;
  std::uint16_t e_machine;
  std::uint32_t e_version;
  Address e_entry;
  Offset e_phoff;
  Offset e_shoff;
  std::uint32_t e_flags;
  std::uint16_t e_ehsize;
  std::uint16_t e_phentsize;
  std::uint16_t e_phnum;
  std::uint16_t e_shentsize;
  std::uint16_t e_shnum;
  std::uint16_t e_shstrndx;
};

template <typename Address, typename Offset, typename Word>
struct TSectionHeader {
  std::uint32_t sh_name;
  std::uint32_t sh_type;
  Word sh_flags;
  Address sh_addr;
  Offset sh_offset;
  Word sh_size;
  std::uint32_t sh_link;
  std::uint32_t sh_info;
  Word sh_addralign;
  Word sh_entsize;
};

using Elf32Header = THeader<std::uint32_t, std::uint32_t, std::uint32_t>;
using Elf32Section = TSectionHeader<std::uint32_t, std::uint32_t, std::uint32_t>;
using Elf64Header = THeader<std::uint64_t, std::uint64_t, std::uint64_t>;
using Elf64Section = TSectionHeader<std::uint64_t, std::uint64_t, std::uint64_t>;
static_assert(sizeof(Elf32Header) == 52 && sizeof(Elf32Section) == 40);
static_assert(sizeof(Elf64Header) == 64 && sizeof(Elf64Section) == 64);

}  // namespace ElfFormat
