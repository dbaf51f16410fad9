// Reading a shared object's dynamic symbol table. The file may be anything a student built or
// named by mistake, so every offset it holds is checked against its size before use.
#include "tools/common/elf_exports.hpp"

#include <cxxabi.h>
#include <elf.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

namespace tool_common {
namespace {

// Copies the T at `offset` of `data` into *out; false when it does not lie within.
template <typename T>
bool read_at(const std::string& data, uint64_t offset, T* out) {
  if (offset > data.size() || data.size() - offset < sizeof(T)) {
    return false;
  }
  std::memcpy(out, data.data() + offset, sizeof(T));
  return true;
}

bool exported(const Elf64_Sym& s) {
  const unsigned type = ELF64_ST_TYPE(s.st_info);
  const unsigned bind = ELF64_ST_BIND(s.st_info);
  const unsigned seen = ELF64_ST_VISIBILITY(s.st_other);
  return (type == STT_FUNC || type == STT_GNU_IFUNC) && (bind == STB_GLOBAL || bind == STB_WEAK) &&
         (seen == STV_DEFAULT || seen == STV_PROTECTED) && s.st_shndx != SHN_UNDEF;
}

}  // namespace

std::vector<std::string> exported_functions(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> names;
  Elf64_Ehdr eh{};
  if (!read_at(data, 0, &eh) || std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 ||
      eh.e_ident[EI_CLASS] != ELFCLASS64 || eh.e_shentsize != sizeof(Elf64_Shdr)) {
    return names;
  }
  for (uint64_t i = 0; i < eh.e_shnum; ++i) {
    Elf64_Shdr table{};
    Elf64_Shdr strings{};
    if (!read_at(data, eh.e_shoff + i * sizeof table, &table) || table.sh_type != SHT_DYNSYM ||
        !read_at(data, eh.e_shoff + uint64_t{table.sh_link} * sizeof strings, &strings)) {
      continue;
    }
    // Entry 0 is the null symbol.
    for (uint64_t at = sizeof(Elf64_Sym); at < table.sh_size; at += sizeof(Elf64_Sym)) {
      Elf64_Sym s{};
      if (!read_at(data, table.sh_offset + at, &s)) {
        break;
      }
      const uint64_t name = strings.sh_offset + s.st_name;
      if (!exported(s) || s.st_name >= strings.sh_size || name >= data.size()) {
        continue;
      }
      const uint64_t room = std::min<uint64_t>(strings.sh_size - s.st_name, data.size() - name);
      names.emplace_back(data.data() + name, strnlen(data.data() + name, room));
    }
  }
  return names;
}

std::vector<std::string> functions_one_may_mean(const std::string& path,
                                                const std::string& parameters) {
  std::vector<std::string> c_names;
  std::vector<std::string> cpp_names;
  for (const std::string& name : exported_functions(path)) {
    if (name.rfind("_Z", 0) != 0) {
      if (name[0] != '_') {
        c_names.push_back(name);
      }
      continue;
    }
    int status = -1;
    char* plain = abi::__cxa_demangle(name.c_str(), nullptr, nullptr, &status);
    const std::string text = status == 0 && plain != nullptr ? plain : "";
    std::free(plain);
    if (text.size() > parameters.size() &&
        text.compare(text.size() - parameters.size(), parameters.size(), parameters) == 0) {
      cpp_names.push_back(text);
    }
  }
  cpp_names.insert(cpp_names.end(), c_names.begin(), c_names.end());
  return cpp_names;
}

}  // namespace tool_common
