// Whether a module file exports a name, read from its export table (ELF's
// dynamic symbols, PE's export directory) without loading it: no code of the
// module runs. For --no-load: a module's constructors run when it is loaded,
// and the files a user asks about may be anyone's.
#ifndef PEXIL_TOOLS_PEXIL_EXPORT_TABLE_H
#define PEXIL_TOOLS_PEXIL_EXPORT_TABLE_H

#include <string>
#include <vector>

namespace pexil::tool {

enum class ExportFound { Yes, No, NotAModule };

// Yes when the file's export table has the name (ELF: a defined global or
// weak symbol of default or protected visibility; PE: an exported name).
// NotAModule when the file cannot be read, is no ELF or PE file, or its
// table cannot be read: *problem (when given) says why.
ExportFound FindExport(const std::string& path, const char* name, std::string* problem);
// The same for a file's bytes.
ExportFound FindExportIn(const std::vector<unsigned char>& file, const char* name,
                         std::string* problem);

}  // namespace pexil::tool

#endif
