# Line efficiency against baud rate; input: baud, then plug-in and libmodbus
# efficiency for 1, 10 and 125 registers. Run: gnuplot -e "data='F'; out='P'" efficiency.gp
set terminal pngcairo size 900,560 noenhanced font ",11"
set output out
set title "Line efficiency: wire minimum / measured time per transaction"
set xlabel "Baud rate"
set ylabel "Efficiency"
# The rates measured, evenly spaced in the order of the data: on a true
# scale 9600 and 19200 crowd each other beside 115200.
stats data using 1 nooutput
set xrange [-0.4:STATS_records - 0.6]
set key outside right
set grid
set yrange [0.5:*]
# The wire's minimum includes the silent interval Modbus RTU requires
# between frames: only a client that leaves it out gets above 1.
set label 1 "Above 1 (the wire limit): faster than\nthe wire's minimum, which includes\nthe silence between frames: a client\nthat keeps no silence" \
    at screen 0.69, screen 0.62 left font ",10" textcolor rgb "#555555"
plot data using 0:2:xtic(1) with linespoints lw 2 pt 7 lc rgb "#1f77b4" title "plug-in, 1 register", \
     data using 0:4 with linespoints lw 2 pt 5 lc rgb "#1f77b4" dt 2 title "plug-in, 10 registers", \
     data using 0:6 with linespoints lw 2 pt 9 lc rgb "#1f77b4" dt 3 title "plug-in, 125 registers", \
     data using 0:3 with linespoints lw 2 pt 7 lc rgb "#d62728" title "libmodbus, 1 register", \
     data using 0:5 with linespoints lw 2 pt 5 lc rgb "#d62728" dt 2 title "libmodbus, 10 registers", \
     data using 0:7 with linespoints lw 2 pt 9 lc rgb "#d62728" dt 3 title "libmodbus, 125 registers", \
     1 with lines lc rgb "#555555" dt 4 title "wire limit"
