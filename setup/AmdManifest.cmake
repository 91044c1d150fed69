# cmake -DIN=setup.manifest -DOUT=setup-amd64.manifest -P AmdManifest.cmake:
# the launcher's manifest for the 64-bit flavour, naming its processor.
file(READ ${IN} xml)
string(REPLACE "processorArchitecture=\"X86\"" "processorArchitecture=\"amd64\"" amd64 "${xml}")
if(amd64 STREQUAL xml)
  message(FATAL_ERROR "${IN} names no X86 processor")
endif()
file(WRITE ${OUT} "${amd64}")
