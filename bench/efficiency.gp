# Line efficiency against baud rate; input: baud, then plug-in and libmodbus
# efficiency for 1, 10 and 125 registers. Run: gnuplot -e "data='F'; out='P'" efficiency.gp
set terminal pngcairo size 900,560 noenhanced font ",11"
set output out
set title "Line efficiency: wire minimum / measured time per transaction"
set xlabel "Baud rate"
set ylabel "Efficiency"
set logscale x 2
set xtics ("9600" 9600, "19200" 19200, "115200" 115200)
set key outside right
set grid
set yrange [0.5:*]
plot data using 1:2 with linespoints lw 2 pt 7 lc rgb "#1f77b4" title "plug-in, 1 register", \
     data using 1:4 with linespoints lw 2 pt 5 lc rgb "#1f77b4" dt 2 title "plug-in, 10 registers", \
     data using 1:6 with linespoints lw 2 pt 9 lc rgb "#1f77b4" dt 3 title "plug-in, 125 registers", \
     data using 1:3 with linespoints lw 2 pt 7 lc rgb "#d62728" title "libmodbus, 1 register", \
     data using 1:5 with linespoints lw 2 pt 5 lc rgb "#d62728" dt 2 title "libmodbus, 10 registers", \
     data using 1:7 with linespoints lw 2 pt 9 lc rgb "#d62728" dt 3 title "libmodbus, 125 registers", \
     1 with lines lc rgb "#555555" dt 4 title "wire limit"
