# libbz2's sources in Debian's source package (scripts/setup.sh unpacks it),
# for the Windows build and the build machine's own tools alike.
function(veltrano_bzip2_sources out dir)
  set(${out}
    ${dir}/blocksort.c ${dir}/huffman.c ${dir}/crctable.c ${dir}/randtable.c
    ${dir}/compress.c ${dir}/decompress.c ${dir}/bzlib.c
    PARENT_SCOPE)
endfunction()
