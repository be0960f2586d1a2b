/* Linker script of the 32-bit setup program (the release stub).

   Fewer sections make a smaller file, since each is padded to the 512-byte
   file alignment: read-only data lies in .text, initialised data behind the
   import tables in .idata (the loader writes the import address table, so
   that section is writable anyway; the import directory is found by this
   section's name). Relocations stay, so that the program can be loaded at
   any address. Unwind tables are dropped: the program has no exceptions.

   The program has no C runtime start-up (app/main.cpp), so nothing would run
   global constructors, thread-local storage callbacks or the fix-ups of
   imported data: the link fails when any of them is present. */
OUTPUT_FORMAT(pei-i386)
SECTIONS
{
  . = SIZEOF_HEADERS;
  . = ALIGN(__section_alignment__);
  .text __image_base__ + ( __section_alignment__ < 0x1000 ? . : __section_alignment__ ) :
  {
    *(.text)
    *(SORT(.text$*))
    *(.text.*)
    *(.rdata)
    *(SORT(.rdata$*))
    __stub_start_up_start = .;
    KEEP (*(.ctors)) KEEP (*(.ctor)) KEEP (*(SORT_BY_NAME(.ctors.*)))
    KEEP (*(.dtors)) KEEP (*(.dtor)) KEEP (*(SORT_BY_NAME(.dtors.*)))
    KEEP (*(SORT(.CRT$*)))
    KEEP (*(.tls)) KEEP (*(SORT(.tls$*)))
    KEEP (*(.rdata_runtime_pseudo_reloc))
    __stub_start_up_end = .;
  }
  .idata BLOCK(__section_alignment__) :
  {
    KEEP (SORT(*)(.idata$2))
    KEEP (SORT(*)(.idata$3))
    LONG (0); LONG (0); LONG (0); LONG (0); LONG (0);
    KEEP (SORT(*)(.idata$4))
    __IAT_start__ = .;
    KEEP (SORT(*)(.idata$5))
    __IAT_end__ = .;
    KEEP (SORT(*)(.idata$6))
    KEEP (SORT(*)(.idata$7))
    *(.data)
    *(.data2)
    *(SORT(.data$*))
  }
  .bss BLOCK(__section_alignment__) :
  {
    *(.bss)
    *(COMMON)
  }
  .rsrc BLOCK(__section_alignment__) : SUBALIGN(4)
  {
    KEEP (*(.rsrc))
    KEEP (*(.rsrc$*))
  }
  .reloc BLOCK(__section_alignment__) :
  {
    *(.reloc)
  }
  /DISCARD/ :
  {
    *(.eh_frame*)
    *(.debug*)
    *(.zdebug*)
    *(.drectve)
    *(.note.GNU-stack)
    *(.gnu.lto_*)
  }
}
ASSERT(__stub_start_up_end == __stub_start_up_start,
       "the setup program has no C runtime start-up: no global constructors, thread-local data or imported data")
