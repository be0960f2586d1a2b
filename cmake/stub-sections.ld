/* Added to the default linker script when the setup program is linked: the
   program has no exceptions, so the unwind tables that libgcc's helpers
   bring along are dropped. */
SECTIONS
{
  /DISCARD/ : { *(.eh_frame) *(.eh_frame.*) }
}
INSERT BEFORE .text;
