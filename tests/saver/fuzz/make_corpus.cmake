# Seeds for the fuzz run, made with gdpack: GDPACK, BASE (any small file), PHOTO (a small
# image the player shows), MUSIC (a small WAV) and OUT are given.
file(REMOVE_RECURSE ${OUT})
file(MAKE_DIRECTORY ${OUT})
execute_process(COMMAND ${GDPACK} build -o ${OUT}/two-photos --base ${BASE}
                  --photo Berg "a comment" ${PHOTO} --photo Seele "" ${PHOTO}
                  --set Duration=5 --set Effect=3 --set Random=1 --set NameFont=Arial
                  --text 0=Hilfe --text "19=None\r\nFade"
                OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${GDPACK} build -o ${OUT}/music --base ${BASE} --music ${MUSIC}
                  --photo "" "" ${PHOTO}
                OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
