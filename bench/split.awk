# The split as a user might write it by hand, for comparison: one line at a
# time, taking a fixed five lines after each place line. Cleaned lines go to
# standard output, place blocks to the file named by -v coordinates=FILE.
BEGIN { split("4 LATI |4 LONG |4 ZOOM |4 PLEV ", prefix, "|") }
left > 0 {
  taken = 5 - left
  if (taken == 0) print "3 MAP" > coordinates
  else print prefix[taken] substr($0, 8) > coordinates
  left--
  next
}
index($0, "0 _PLAC ") {
  print "2 PLAC" substr($0, index($0, "0 _PLAC") + 7) > coordinates
  left = 5
  next
}
{ print }
END { print "0 TLR" > coordinates }
