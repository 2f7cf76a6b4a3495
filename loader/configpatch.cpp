#include "loader/configpatch.h"

#include <string>

#include "loader/startup.h"
#include "loader/workspace.h"
#include "platform/files.h"
#include "platform/text.h"
#include "xml/xmldoc.h"

namespace kelvane {

bool patchconfig(std::u16string_view configpath, std::u16string_view packagepath) {
  xmldoc doc;
  doc.settext(nullptr);
  doc.loadfile(configpath);

  bool patched = false;
  bool found = false;
  while (doc.nextchild(u"source")) {
    found = true;
    patched |= doc.setattribute(doc.childpos(), u"path", packagepath, 0);
  }
  if (!found && doc.insertelement(u"source", nullptr, AS_CHILD | BEFORE)) {
    doc.nextchild(u"source");  // finds nothing after the new element, which stays current
    patched = doc.setattribute(doc.childpos(), u"path", packagepath, 0);
  }
  // Nothing set means nothing was read: saving would only empty the file.
  return patched && doc.savefile(configpath);
}

void patchconfig() {
  std::u16string separator(1, static_cast<char16_t>(fs::separator()));
  patchconfig(widetemppath() + u"setup" + separator + u"config.xml", towide(ownpath()));
}

}  // namespace kelvane
