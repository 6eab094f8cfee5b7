[playlist]
NumberOfEntries=3
File1=http://127.0.0.1:8000/live
Title1=Station One
Length1=-1
File3=relative\song.mp3
File2=file:///m/a%20b.mp3
Title2=Two
Version=2
