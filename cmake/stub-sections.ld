/* Added to the default linker script when the 64-bit setup program is linked
   (the 32-bit release build has its own script, stub-i686.ld, which also
   fails the link when a global needs start-up code). The program has no
   exceptions, so the unwind tables that libgcc's helpers bring along are
   dropped. */
SECTIONS
{
  /DISCARD/ : { *(.eh_frame) *(.eh_frame.*) }
}
INSERT BEFORE .text;
