/* Drops the unwind tables that only the static libraries (zlib, libgcc, operator
   delete) bring into the stub; each would cost a section of at least 512 bytes.
   The stub has no C++ exceptions and no exception handlers, and its own code is
   compiled without unwind tables, so an unwinder could not walk its frames anyway.
   i686: .eh_frame was registered by the start-up files that the stub no longer links.
   x86_64: .pdata/.xdata; Windows falls back to treating a function without an entry
   as a leaf, which matters only when it unwinds an exception.
   The writable data goes into .vekofs, after the stub's constants (vekpack finds them
   at the section's start): one section fewer, 512 bytes less in the file. */
SECTIONS
{
  /DISCARD/ : { *(.eh_frame*) *(.pdata*) *(.xdata*) }
  .vekofs BLOCK(__section_alignment__) : { *(.vekofs) *(.data) *(.data.*) }
}
INSERT AFTER .text;
