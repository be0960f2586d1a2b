#include "builder/setup_resources.h"

#include <algorithm>

#include "builder/ansi.h"
#include "builder/bytes.h"
#include "builder/errors.h"

namespace pakwiz {

namespace {

// The name under which a program's manifest is found at process start.
const uint16_t MANIFEST_ID = 1;
const uint16_t VERSION_ID = 1;
const uint16_t UNICODE_CODEPAGE = 1200;

std::u16string ascii16(const char* s) {
  std::u16string out;
  while (*s) out += (char16_t)(unsigned char)*s++;
  return out;
}

std::string utf16_to_utf8(const std::u16string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); i++) {
    uint32_t cp = s[i];
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000)
      cp = 0x10000 + ((cp - 0xD800) << 10) + (s[++i] - 0xDC00);
    else if (cp >= 0xD800 && cp < 0xE000)
      cp = 0xFFFD;
    if (cp < 0x80) {
      out += (char)cp;
    } else if (cp < 0x800) {
      out += (char)(0xC0 | (cp >> 6));
      out += (char)(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += (char)(0xE0 | (cp >> 12));
      out += (char)(0x80 | ((cp >> 6) & 0x3F));
      out += (char)(0x80 | (cp & 0x3F));
    } else {
      out += (char)(0xF0 | (cp >> 18));
      out += (char)(0x80 | ((cp >> 12) & 0x3F));
      out += (char)(0x80 | ((cp >> 6) & 0x3F));
      out += (char)(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

// One node of a version resource: u16 length, u16 value length, u16 type
// (1 = text), the key in UTF-16 with its NUL, padding to 4, the value,
// padding to 4, the children (each starting at a multiple of 4). The length
// counts everything but the padding behind the last child.
std::vector<uint8_t> version_node(const std::u16string& key, const std::vector<uint8_t>& value,
                                  uint16_t value_length, bool text,
                                  const std::vector<std::vector<uint8_t>>& children) {
  ByteWriter w;
  w.zeros(6);
  for (char16_t c : key) w.u16((uint16_t)c);
  w.u16(0);
  w.align(4);
  w.append(value);
  for (const std::vector<uint8_t>& child : children) {
    w.align(4);
    w.append(child);
  }
  if (w.size() > 0xFFFF) fail("a version resource text is too long");
  w.bytes[0] = (uint8_t)w.size();
  w.bytes[1] = (uint8_t)(w.size() >> 8);
  w.bytes[2] = (uint8_t)value_length;
  w.bytes[3] = (uint8_t)(value_length >> 8);
  w.bytes[4] = text ? 1 : 0;
  return w.bytes;
}

std::vector<uint8_t> version_string(const char* key, const std::u16string& value) {
  ByteWriter v;
  for (char16_t c : value) v.u16((uint16_t)c);
  v.u16(0);
  return version_node(ascii16(key), v.bytes, (uint16_t)(value.size() + 1), true, {});
}

std::string version_text(uint32_t ms, uint32_t ls) {
  return std::to_string(ms >> 16) + "." + std::to_string(ms & 0xFFFF) + "." +
         std::to_string(ls >> 16) + "." + std::to_string(ls & 0xFFFF);
}

std::string xml_attribute(const std::string& s) {
  std::string out;
  for (char c : s)
    out += c == '"' ? "&quot;" : c == '&' ? "&amp;" : c == '<' ? "&lt;" : std::string(1, c);
  return out;
}

// Reader of version resource nodes (bounds-checked against the resource).
struct VersionNode {
  size_t end = 0, value = 0, value_size = 0, children = 0;
  std::u16string key;
  bool text = false;
};
bool read_version_node(const std::vector<uint8_t>& d, size_t at, size_t limit, VersionNode* n) {
  if (at + 6 > limit) return false;
  size_t length = read_u16(&d[at]), value_length = read_u16(&d[at + 2]);
  n->text = read_u16(&d[at + 4]) == 1;
  if (length < 6 || length > limit - at) return false;
  n->end = at + length;
  size_t k = at + 6;
  n->key.clear();
  for (;;) {
    if (k + 2 > n->end) return false;
    char16_t c = (char16_t)read_u16(&d[k]);
    k += 2;
    if (!c) break;
    n->key += c;
  }
  n->value = (k + 3) & ~(size_t)3;
  n->value_size = n->text ? 2 * value_length : value_length;
  if (n->value > n->end) n->value = n->end;
  n->value_size = std::min(n->value_size, n->end - n->value);
  n->children = std::min(n->end, (n->value + n->value_size + 3) & ~(size_t)3);
  return true;
}

} // namespace

std::string manifest_xml(const ExecutableSpec& spec) {
  static const char* const SUPPORTED_OS[] = {
      "{e2011457-1546-43c5-a5fe-008deee3d3f0}", // Windows Vista
      "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", // Windows 7
      "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", // Windows 8
      "{1f676c76-80e1-4239-95bb-83d0f6d0da78}", // Windows 8.1
      "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", // Windows 10 and 11
  };
  std::string x =
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
      "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">\r\n"
      "  <dependency>\r\n"
      "    <dependentAssembly>\r\n"
      "      <assemblyIdentity type=\"win32\" name=\"Microsoft.Windows.Common-Controls\" "
      "version=\"6.0.0.0\" processorArchitecture=\"*\" publicKeyToken=\"6595b64144ccf1df\" "
      "language=\"*\"/>\r\n"
      "    </dependentAssembly>\r\n"
      "  </dependency>\r\n"
      "  <trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\">\r\n"
      "    <security>\r\n"
      "      <requestedPrivileges>\r\n"
      "        <requestedExecutionLevel level=\"" +
      xml_attribute(spec.execution_level) +
      "\" uiAccess=\"false\"/>\r\n"
      "      </requestedPrivileges>\r\n"
      "    </security>\r\n"
      "  </trustInfo>\r\n"
      "  <compatibility xmlns=\"urn:schemas-microsoft-com:compatibility.v1\">\r\n"
      "    <application>\r\n";
  for (const char* id : SUPPORTED_OS)
    x += "      <supportedOS Id=\"" + std::string(id) + "\"/>\r\n";
  x += "    </application>\r\n"
       "  </compatibility>\r\n"
       "</assembly>\r\n";
  return x;
}

std::vector<uint8_t> version_resource(const ExecutableSpec& spec) {
  ByteWriter fixed;
  fixed.u32(0xFEEF04BD); // signature
  fixed.u32(0x00010000); // structure version 1.0
  fixed.u32(spec.file_version_numbers[0]);
  fixed.u32(spec.file_version_numbers[1]);
  fixed.u32(spec.product_version_numbers[0]);
  fixed.u32(spec.product_version_numbers[1]);
  fixed.u32(0x3F);       // flags mask
  fixed.u32(0);          // flags
  fixed.u32(0x00040004); // VOS_NT_WINDOWS32
  fixed.u32(1);          // VFT_APP
  fixed.u32(0);          // subtype
  fixed.u32(0);          // date (none: builds stay the same)
  fixed.u32(0);

  std::vector<std::vector<uint8_t>> strings;
  auto add = [&](const char* key, const std::string& ansi) {
    if (!ansi.empty()) strings.push_back(version_string(key, ansi_to_utf16(ansi)));
  };
  add("CompanyName", spec.company);
  add("FileDescription", spec.description);
  add("FileVersion", spec.file_version);
  add("LegalCopyright", spec.copyright);
  add("ProductName", spec.product_name);
  add("ProductVersion", spec.product_version);

  std::vector<uint8_t> table = version_node(u"040904B0", {}, 0, true, strings);
  std::vector<uint8_t> string_info = version_node(u"StringFileInfo", {}, 0, true, {table});
  ByteWriter translation;
  translation.u16(RES_LANGUAGE_EN_US);
  translation.u16(UNICODE_CODEPAGE);
  std::vector<uint8_t> var = version_node(u"Translation", translation.bytes, 4, false, {});
  std::vector<uint8_t> var_info = version_node(u"VarFileInfo", {}, 0, true, {var});
  return version_node(u"VS_VERSION_INFO", fixed.bytes, (uint16_t)fixed.size(), false,
                      {string_info, var_info});
}

IconResources icon_resources(const std::vector<uint8_t>& ico, const std::string& what) {
  if (ico.size() < 6 || read_u16(&ico[0]) != 0 || read_u16(&ico[2]) != 1)
    fail(what + ": not an icon file (.ico)");
  size_t count = read_u16(&ico[4]);
  if (count == 0) fail(what + ": the icon file holds no images");
  if (ico.size() < 6 + 16 * count) fail(what + ": the icon file ends inside its directory");
  IconResources r;
  ByteWriter group;
  group.u16(0);
  group.u16(1);
  group.u16((uint16_t)count);
  for (size_t i = 0; i < count; i++) {
    const uint8_t* e = &ico[6 + 16 * i];
    uint32_t size = read_u32(e + 8), offset = read_u32(e + 12);
    if (size < 8 || offset > ico.size() || size > ico.size() - offset)
      fail(what + ": image " + std::to_string(i + 1) + " lies outside the icon file");
    const uint8_t* image = &ico[offset];
    static const uint8_t PNG[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (read_u32(image) != 40 && !std::equal(PNG, PNG + 8, image))
      fail(what + ": image " + std::to_string(i + 1) + " is neither a bitmap nor a PNG image");
    group.append(e, 12); // width, height, colours, reserved, planes, bits, size
    group.u16((uint16_t)(i + 1));
    r.images.emplace_back(image, image + size);
  }
  r.group = group.bytes;
  return r;
}

std::vector<uint8_t> apply_setup_resources(const std::vector<uint8_t>& program,
                                           const ExecutableSpec& spec, const IconResources* icon,
                                           const std::string& what) {
  std::vector<Resource> kept, resources = read_resources(program, what);
  std::optional<ResourceId> group_name;
  for (Resource& r : resources) {
    uint16_t type = r.type.text.empty() ? r.type.number : 0;
    if (type == RES_TYPE_GROUP_ICON && !group_name) group_name = r.name;
    if (type == RES_TYPE_MANIFEST || type == RES_TYPE_VERSION) continue;
    if (icon && (type == RES_TYPE_ICON || type == RES_TYPE_GROUP_ICON)) continue;
    kept.push_back(std::move(r));
  }
  auto add = [&](uint16_t type, const ResourceId& name, std::vector<uint8_t> data) {
    Resource r;
    r.type.number = type;
    r.name = name;
    r.language = RES_LANGUAGE_EN_US;
    r.data = std::move(data);
    kept.push_back(std::move(r));
  };
  auto number = [](uint16_t n) {
    ResourceId id;
    id.number = n;
    return id;
  };
  std::string xml = manifest_xml(spec);
  add(RES_TYPE_MANIFEST, number(MANIFEST_ID), std::vector<uint8_t>(xml.begin(), xml.end()));
  add(RES_TYPE_VERSION, number(VERSION_ID), version_resource(spec));
  if (icon) {
    for (size_t i = 0; i < icon->images.size(); i++)
      add(RES_TYPE_ICON, number((uint16_t)(i + 1)), icon->images[i]);
    add(RES_TYPE_GROUP_ICON, group_name ? *group_name : number(1), icon->group);
  }
  return replace_resources(program, kept, what);
}

ProgramResourcesInfo describe_program_resources(const std::vector<uint8_t>& program,
                                                const std::string& what) {
  ProgramResourcesInfo info;
  for (const Resource& r : read_resources(program, what)) {
    if (!r.type.text.empty()) continue;
    const std::vector<uint8_t>& d = r.data;
    if (r.type.number == RES_TYPE_MANIFEST && !info.has_manifest) {
      info.has_manifest = true;
      std::string xml(d.begin(), d.end());
      size_t at = xml.find("requestedExecutionLevel");
      at = at == std::string::npos ? at : xml.find("level=\"", at);
      if (at != std::string::npos) {
        size_t end = xml.find('"', at + 7);
        if (end != std::string::npos) info.execution_level = xml.substr(at + 7, end - at - 7);
      }
      info.common_controls_6 = xml.find("Microsoft.Windows.Common-Controls") != std::string::npos;
      info.dpi_aware = xml.find("dpiAware") != std::string::npos;
      for (at = xml.find("<supportedOS"); at != std::string::npos;
           at = xml.find("<supportedOS", at + 1))
        info.supported_os++;
    }
    if (r.type.number == RES_TYPE_VERSION && !info.file_version) {
      VersionNode root;
      if (!read_version_node(d, 0, d.size(), &root) || root.key != u"VS_VERSION_INFO" ||
          root.value_size < 52 || read_u32(&d[root.value]) != 0xFEEF04BD)
        continue;
      info.file_version = version_text(read_u32(&d[root.value + 8]), read_u32(&d[root.value + 12]));
      info.product_version =
          version_text(read_u32(&d[root.value + 16]), read_u32(&d[root.value + 20]));
      // StringFileInfo -> the first string table -> its strings.
      for (size_t c = root.children; c < root.end;) {
        VersionNode child;
        if (!read_version_node(d, c, root.end, &child)) break;
        if (child.key == u"StringFileInfo") {
          VersionNode table;
          if (read_version_node(d, child.children, child.end, &table))
            for (size_t s = table.children; s < table.end;) {
              VersionNode str;
              if (!read_version_node(d, s, table.end, &str)) break;
              std::u16string value;
              for (size_t k = 0; k + 1 < str.value_size; k += 2) {
                char16_t ch = (char16_t)read_u16(&d[str.value + k]);
                if (!ch) break;
                value += ch;
              }
              info.version_strings.emplace_back(utf16_to_utf8(str.key), utf16_to_utf8(value));
              s = (str.end + 3) & ~(size_t)3;
            }
        }
        c = (child.end + 3) & ~(size_t)3;
      }
    }
    if (r.type.number == RES_TYPE_GROUP_ICON && info.icon_sizes.empty() && d.size() >= 6) {
      size_t count = read_u16(&d[4]);
      for (size_t i = 0; i < count && 6 + 14 * (i + 1) <= d.size(); i++) {
        const uint8_t* e = &d[6 + 14 * i];
        unsigned w = e[0] ? e[0] : 256, h = e[1] ? e[1] : 256, bits = read_u16(e + 6);
        info.icon_sizes.push_back(std::to_string(w) + "x" + std::to_string(h) +
                                  (bits ? " " + std::to_string(bits) + "-bit" : ""));
      }
    }
  }
  return info;
}

} // namespace pakwiz
