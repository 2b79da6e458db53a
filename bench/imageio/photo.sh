# Sourced by the benchmark scripts: bench_photo DIR makes the 6000 x 4000 test photo with
# ImageMagick (photo.ppm, photo.jpg, photo.png) once; it is kept in the build directory.
bench_photo() {
  local data=$1
  mkdir -p "$data"
  [ -f "$data/photo.png" ] && return 0
  echo "making the test photo (once)"
  convert -size 6000x4000 -seed 7 plasma:fractal -blur 0x2 -depth 8 "ppm:$data/photo.ppm"
  cjpeg -quality 90 -outfile "$data/photo.jpg" "$data/photo.ppm"
  convert "$data/photo.ppm" "$data/photo.png"
}
