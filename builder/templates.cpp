#include "builder/templates.h"

#include <algorithm>

#include "builder/bytes.h"
#include "builder/res_file.h"
#include "builder/source_files.h"
#include "package/dialog_template.h"

// Generated at build time from resources/templates.rc (builder/CMakeLists.txt).
extern const unsigned char PAKWIZ_TEMPLATES_RES[];
extern const unsigned int PAKWIZ_TEMPLATES_RES_SIZE;

namespace pakwiz {

const std::vector<uint8_t>& default_templates_res() {
  static const std::vector<uint8_t> res(PAKWIZ_TEMPLATES_RES,
                                        PAKWIZ_TEMPLATES_RES + PAKWIZ_TEMPLATES_RES_SIZE);
  return res;
}

// Checks one template and trims it to the length the setup program walks.
static std::vector<uint8_t> checked_template(const ResDialog& d, const std::string& where) {
  uint32_t available = (uint32_t)std::min<size_t>(d.data.size(), 0xFFFFFFFFu);
  uint32_t walked = dialog_template_size(d.data.data(), available);
  std::string what = where + ": dialog " + std::to_string(d.id);
  if (walked == 0) fail(what + " is not a well-formed dialog template");
  if (walked > TEMPLATE_LIMIT)
    fail(what + " is " + with_commas(walked) + " bytes long; the setup program copies at most " +
         with_commas(TEMPLATE_LIMIT) + " bytes of a template");
  return std::vector<uint8_t>(d.data.begin(), d.data.begin() + walked);
}

std::vector<std::vector<uint8_t>> load_templates(const std::string& custom_res,
                                                 const SourcePos& pos) {
  std::vector<std::vector<uint8_t>> templates(TEMPLATE_SLOTS);
  const std::vector<uint8_t>& builtin = default_templates_res();
  for (const ResDialog& d : read_res_dialogs(builtin.data(), builtin.size(), "built-in templates"))
    if (d.id < TEMPLATE_SLOTS) templates[d.id] = checked_template(d, "built-in templates");
  for (int k = 0; k < TEMPLATE_SLOTS; k++)
    if (templates[k].empty())
      fail("built-in templates: dialog " + std::to_string(k) + " is missing");
  if (custom_res.empty()) return templates;

  std::vector<uint8_t> res = read_source_file(custom_res, pos);
  bool any = false;
  for (const ResDialog& d : read_res_dialogs(res.data(), res.size(), custom_res)) {
    if (d.id >= TEMPLATE_SLOTS) continue;
    templates[d.id] = checked_template(d, custom_res);
    any = true;
  }
  if (!any)
    fail_at(pos, custom_res + " holds no dialog with a resource ID from 0 to 8 (the template "
                              "indexes it could replace)");
  return templates;
}

std::vector<uint8_t> build_template_record(const std::vector<std::vector<uint8_t>>& templates) {
  ByteWriter w;
  w.zeros(4 * templates.size());
  for (size_t k = 0; k < templates.size(); k++) {
    w.align(4);
    w.put_u32(4 * k, (uint32_t)w.size());
    w.append(templates[k]);
  }
  return w.bytes;
}

} // namespace pakwiz
