/* Added to the default linker script when the 64-bit setup program is linked
   (the 32-bit release build has its own script, stub-i686.ld). The program
   has no exceptions, so the unwind tables that libgcc's helpers bring along
   are dropped. It has no C runtime start-up (app/main.cpp), so nothing would
   run global constructors or thread-local storage callbacks: the link fails
   when any is present. */
SECTIONS
{
  /DISCARD/ : { *(.eh_frame) *(.eh_frame.*) }
  .startup_check :
  {
    __stub_start_up_start = .;
    KEEP (*(.ctors)) KEEP (*(.ctor)) KEEP (*(SORT_BY_NAME(.ctors.*)))
    KEEP (*(SORT(.CRT$*)))
    KEEP (*(.tls)) KEEP (*(SORT(.tls$*)))
    __stub_start_up_end = .;
  }
}
INSERT BEFORE .text;
ASSERT(__stub_start_up_end == __stub_start_up_start,
       "the setup program has no C runtime start-up: no global constructors or thread-local data")
