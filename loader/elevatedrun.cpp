#include "loader/elevatedrun.h"

namespace kelvane {

namespace {
constexpr char autoinstallkey[] = "KZQAUTOI=";
constexpr char installpathkey[] = "KZQPATHI=";
constexpr char hiddenkey[] = "hidden";

bool startswith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }
}  // namespace

workspacekind chooseworkspace(bool elevated, bool relaunched) {
  return elevated || relaunched ? workspacekind::protectedfolder : workspacekind::usertemp;
}

std::vector<std::string> relaunchargs(const relaunchrequest& request) {
  std::vector<std::string> args{relaunchmarker};
  if (request.autoinstall) args.push_back(autoinstallkey + *request.autoinstall);
  if (request.installpath) args.push_back(installpathkey + *request.installpath);
  if (request.hidden) args.push_back(hiddenkey);
  return args;
}

relaunchrequest parserelaunch(const std::vector<std::string>& args) {
  relaunchrequest request;
  if (args.size() < 2 || args[1] != relaunchmarker) return request;
  request.relaunched = true;
  for (std::size_t i = 2; i < args.size(); ++i) {
    const std::string& token = args[i];
    if (startswith(token, autoinstallkey))
      request.autoinstall = token.substr(sizeof autoinstallkey - 1);
    else if (startswith(token, installpathkey))
      request.installpath = token.substr(sizeof installpathkey - 1);
    else if (token == hiddenkey)
      request.hidden = true;
  }
  return request;
}

std::string protectedfoldername(const unsigned char random[16]) {
  static const char digits[] = "0123456789abcdef";
  std::string name = "kelvane-";
  for (int i = 0; i < 16; ++i) {
    name += digits[random[i] >> 4];
    name += digits[random[i] & 15];
  }
  return name;
}

std::u16string protectedfolderaccess() { return u"O:BAD:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)"; }

}  // namespace kelvane
