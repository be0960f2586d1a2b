#!/usr/bin/env python3
"""Makes a product in two language variants from the reference corpus, and
its project file.

    make-language-variants.py [--whole-file] CORPUS OUT

OUT/en holds the English product: the Windows programs and libraries of
CORPUS/pe, some icons of CORPUS/res and the documents of CORPUS/doc. OUT/de
holds the same product "translated", as a localised build differs from the
original:
  - in every program and library, each UTF-16 text of four or more letters
    inside the resource section (the string tables, dialogs, menus and
    version texts) is replaced by a pseudo-translation about a quarter
    longer, so that all bytes behind it move, as in a build whose resources
    grew. Code and data outside the resources stay as they are: a localised
    build is the same code linked with other resources, and the texts that
    the code itself uses (registry paths, class and file names) are not
    translated. With --whole-file every UTF-16 text of the file is replaced
    instead (the harsher model of earlier figures);
  - readme-like documents (README*, NEWS*, TODO, *.txt) are translated word
    by word (every word of three or more letters replaced by another word);
  - icons, licences (copyright) and change logs stay as they are.
OUT/product.toml installs the English files in language block "en" and the
German ones in block "de", with the same target names.
"""
import hashlib
import os
import re
import struct
import sys

args = sys.argv[1:]
whole_file = "--whole-file" in args
corpus, out = [a for a in args if a != "--whole-file"]

SYLLABLES = ["ein", "ung", "keit", "lich", "sch", "er", "en", "tag", "bar", "ver", "zu",
             "datei", "ord", "ner", "bei", "spiel", "aus", "gabe", "los", "werk"]


def word_for(word, grow):
    """A deterministic pseudo-translation of `word`, about `grow` times as long."""
    h = hashlib.md5(word.encode("utf-8", "surrogatepass")).digest()
    want = max(3, int(len(word) * grow + 0.5))
    s, i = "", 0
    while len(s) < want:
        s += SYLLABLES[h[i % len(h)] % len(SYLLABLES)]
        i += 1
    s = s[:want]
    return s.capitalize() if word[:1].isupper() else s


UTF16_RUN = re.compile(rb"(?:[A-Za-z][\x00]){4,}")
TEXT_WORD = re.compile(r"[A-Za-z]{3,}")


def resource_section(data):
    """The file range (start, end) of a PE image's resource section, or None."""
    def u16(at):
        return struct.unpack_from("<H", data, at)[0]

    def u32(at):
        return struct.unpack_from("<I", data, at)[0]
    try:
        if data[:2] != b"MZ":
            return None
        pe = u32(0x3C)
        if data[pe:pe + 4] != b"PE\0\0":
            return None
        sections, optional = u16(pe + 6), u16(pe + 20)
        magic = u16(pe + 24)
        directories = pe + 24 + (96 if magic == 0x10B else 112)
        rva = u32(directories + 2 * 8)  # the resource directory
        if rva == 0:
            return None
        table = pe + 24 + optional
        for i in range(sections):
            at = table + 40 * i
            virtual, raw_size, raw = u32(at + 12), u32(at + 16), u32(at + 20)
            if virtual <= rva < virtual + max(raw_size, u32(at + 8)):
                return raw, min(raw + raw_size, len(data))
    except struct.error:
        pass
    return None


def translate_binary(data):
    def repl(m):
        text = m.group(0).decode("utf-16-le")
        return word_for(text, 1.25).encode("utf-16-le")
    if whole_file:
        return UTF16_RUN.sub(repl, data)
    where = resource_section(data)
    if not where:
        return data
    start, end = where
    return data[:start] + UTF16_RUN.sub(repl, data[start:end]) + data[end:]


def translate_text(data):
    text = data.decode("latin-1")
    return TEXT_WORD.sub(lambda m: word_for(m.group(0), 1.15), text).encode("latin-1")


def readme_like(name):
    return (name.startswith(("README", "NEWS", "TODO")) or name.endswith(".txt"))


files = []  # (relative path, translate function or None)
for name in sorted(os.listdir(os.path.join(corpus, "pe"))):
    files.append((os.path.join("pe", name), translate_binary))
icons = []
for d, dirs, names in os.walk(os.path.join(corpus, "res")):
    dirs.sort()
    icons += [os.path.join(d, n) for n in sorted(names)]
for path in icons[:200]:
    files.append((os.path.relpath(path, corpus), None))
for d, dirs, names in os.walk(os.path.join(corpus, "doc")):
    dirs.sort()
    for name in sorted(names):
        if name.endswith(".gz"):
            continue
        rel = os.path.relpath(os.path.join(d, name), corpus)
        files.append((rel, translate_text if readme_like(name) else None))

toml = ['product = "Variants"', ""]
for lang, name in (("en", "English"), ("de", "Deutsch")):
    toml += ["[[languages]]", f'language = "{lang}"', f'name = "{name}"',
             f'folder = "C:\\\\Variants\\\\{lang}"', ""]
    for rel, translate in files:
        with open(os.path.join(corpus, rel), "rb") as f:
            data = f.read()
        if lang == "de" and translate:
            data = translate(data)
        path = os.path.join(out, lang, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        target = rel.replace(os.sep, "\\\\")
        for c in ':*?"<>|':
            target = target.replace(c, "_")
        source = os.path.join(lang, rel).replace("\\", "/")
        toml += ["[[languages.files]]", f'source = "{source}"', f'target = "{target}"', ""]
with open(os.path.join(out, "product.toml"), "w") as f:
    f.write("\n".join(toml))
