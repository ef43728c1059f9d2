# cmake -DOUTPUT=file -DINPUTS="a;b" -P concatenate.cmake: OUTPUT holds the INPUTS one
# after the other, a blank line between them.
set(text "")
set(separator "")
foreach(input ${INPUTS})
    file(READ ${input} part)
    string(APPEND text "${separator}${part}")
    set(separator "\n")
endforeach()
file(WRITE ${OUTPUT} "${text}")
