# Seeds for the fuzz run, made with gdpack: GDPACK, BASE (any small file) and OUT are given.
file(REMOVE_RECURSE ${OUT})
file(MAKE_DIRECTORY ${OUT})
execute_process(COMMAND ${GDPACK} build -o ${OUT}/two-photos --base ${BASE}
                  --photo Berg "a comment" ${BASE} --photo Seele "" ${BASE}
                  --set Duration=5 --set Effect=3 --set Random=1 --set NameFont=Arial
                  --text 0=Hilfe --text "19=None\r\nFade"
                COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${GDPACK} build -o ${OUT}/music-only --base ${BASE} --music ${BASE}
                COMMAND_ERROR_IS_FATAL ANY)
