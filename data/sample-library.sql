-- The sample media library of the mysearchcriteria host: one table of UPnP objects, as a media
-- server keeps them, with music, videos, photos and playlists.
--
-- Object identifiers have the form "A0$<view>$<list>$<n>". The last number n is the object's
-- numeric id shifted left by 16 bits plus the number of the list it sits in, so n >> 16 gives the
-- numeric id back: that is the number the parser writes for an @id or @refID value, and num_id
-- holds it. The three fixed views "A0$128$129" (all tracks), "A0$148$149" (all videos) and
-- "A0$160$161" (all photos) hold the media items themselves; albums, artists, genres, playlists
-- and photo albums hold references, whose ref_id names the item they stand for and whose other
-- columns repeat its metadata, as UPnP references do.
--
-- own_id is the column a host maps @refID to: the numeric id of an object that is no reference,
-- NULL for a reference. The library writes "@refID exists false" (no references) as
-- "<column> IS NOT NULL", so this column selects exactly the objects with media of their own, and
-- "@refID = <id>" finds the object with that numeric id.
--
-- The columns after track answer properties a real library keeps beyond the built-in twelve,
-- which a host names to the standard grammar as its own: album_artist
-- (upnp:artist[@role="AlbumArtist"]), composer (upnp:artist[@role="Composer"]), author
-- (upnp:author), publisher (dc:publisher), duration (res@duration, "H:MM:SS"), play_count
-- (upnp:playbackCount), last_played (upnp:lastPlaybackTime) and last_updated (the time the
-- object was added or changed, "YYYY-MM-DD HH:MM:SS"), conductor and lyricist
-- (upnp:artist[@role="Conductor"], upnp:author[@role="Lyricist"]), album_art
-- (upnp:albumArtURI), and protocol_info, size, bitrate and resolution (res@protocolInfo,
-- res@size, res@bitrate, res@resolution). They are set for the music, the
-- videos and the photos where such a value exists, and NULL elsewhere (a track never played has
-- no play count).
--
-- Text columns compare without regard to ASCII letter case, as clients expect of a search.
PRAGMA foreign_keys = ON;
BEGIN;

CREATE TABLE objects (
  object_id TEXT PRIMARY KEY NOT NULL,
  num_id    INTEGER NOT NULL,
  parent_id TEXT NOT NULL,
  ref_id    TEXT REFERENCES objects(object_id),
  own_id    INTEGER GENERATED ALWAYS AS (CASE WHEN ref_id IS NULL THEN num_id END) VIRTUAL,
  class     TEXT NOT NULL COLLATE NOCASE,
  title     TEXT NOT NULL COLLATE NOCASE,
  creator   TEXT COLLATE NOCASE,
  date      TEXT,
  artist    TEXT COLLATE NOCASE,
  actor     TEXT COLLATE NOCASE,
  album     TEXT COLLATE NOCASE,
  genre     TEXT COLLATE NOCASE,
  res       TEXT,
  track     INTEGER,
  album_artist TEXT COLLATE NOCASE,
  composer  TEXT COLLATE NOCASE,
  author    TEXT COLLATE NOCASE,
  publisher TEXT COLLATE NOCASE,
  duration  TEXT,
  play_count INTEGER,
  last_played TEXT,
  last_updated TEXT,
  conductor TEXT COLLATE NOCASE,
  lyricist  TEXT COLLATE NOCASE,
  album_art TEXT,
  protocol_info TEXT,
  size      INTEGER,
  bitrate   INTEGER,
  resolution TEXT
);
CREATE INDEX objects_parent ON objects(parent_id);
CREATE INDEX objects_num ON objects(num_id);
CREATE INDEX objects_class ON objects(class);

-- The root and the fixed views. Their last numbers are below 65536, so their numeric id is 0.
INSERT INTO objects (object_id, num_id, parent_id, class, title) VALUES
  ('0',          0, '-1',     'object.container', 'Root'),
  ('A0$128',     0, '0',      'object.container', 'Music'),
  ('A0$128$129', 0, 'A0$128', 'object.container', 'All Tracks'),
  ('A0$128$130', 0, 'A0$128', 'object.container', 'Albums'),
  ('A0$128$131', 0, 'A0$128', 'object.container', 'Artists'),
  ('A0$128$132', 0, 'A0$128', 'object.container', 'Genres'),
  ('A0$128$133', 0, 'A0$128', 'object.container', 'Playlists'),
  ('A0$148',     0, '0',      'object.container', 'Video'),
  ('A0$148$149', 0, 'A0$148', 'object.container', 'All Videos'),
  ('A0$160',     0, '0',      'object.container', 'Pictures'),
  ('A0$160$161', 0, 'A0$160', 'object.container', 'All Photos'),
  ('A0$160$162', 0, 'A0$160', 'object.container', 'Photo Albums');

-- Music, stated once: albums and their tracks. A track without an artist has its album's.
CREATE TEMP TABLE album_src (no INTEGER PRIMARY KEY, title TEXT, artist TEXT, genre TEXT, date TEXT);
INSERT INTO album_src VALUES
  (1,  'Abbey Road',           'The Beatles',      'Rock',       '1969-09-26'),
  (2,  'Let It Be',            'The Beatles',      'Rock',       '1970-05-08'),
  (3,  'Fever',                'Kylie Minogue',    'Pop',        '2001-10-01'),
  (4,  'Invincible',           'Michael Jackson',  'Pop',        '2001-10-30'),
  (5,  'All This Time',        'Sting',            'Rock',       '2001-11-20'),
  (6,  'Brand New Day',        'Sting',            'Pop',        '1999-09-28'),
  (7,  'Kind of Blue',         'Miles Davis',      'Jazz',       '1959-08-17'),
  (8,  'Come Away with Me',    'Norah Jones',      'Jazz',       '2002-02-26'),
  (9,  'Ella and Louis',       'Ella Fitzgerald & Louis Armstrong', 'Jazz', '1956-10-01'),
  (10, 'Vespertine',           'Björk',            'Electronic', '2001-08-27'),
  (11, 'Ágætis byrjun',        'Sigur Rós',        'Post-Rock',  '1999-06-12'),
  (12, 'Merry Christmas',      'Mariah Carey',     'Holiday',    '1994-11-01'),
  (13, 'Back in Black',        'AC/DC',            'Rock',       '1980-07-25'),
  (14, '100% Dance Hits 2004', 'Various Artists',  'Dance',      '2004-06-15'),
  (15, 'First Love',           '宇多田ヒカル',      'J-Pop',      '1999-03-10');

CREATE TEMP TABLE track_src (album INTEGER, no INTEGER, title TEXT, artist TEXT);
INSERT INTO track_src VALUES
  (1, 1, 'Come Together', NULL), (1, 2, 'Something', NULL),
  (1, 3, 'Maxwell''s Silver Hammer', NULL), (1, 4, 'Oh! Darling', NULL),
  (1, 5, 'Octopus''s Garden', NULL), (1, 6, 'I Want You (She''s So Heavy)', NULL),
  (1, 7, 'Here Comes the Sun', NULL), (1, 8, 'Because', NULL),
  (1, 9, 'You Never Give Me Your Money', NULL), (1, 10, 'Sun King', NULL),
  (2, 1, 'Two of Us', NULL), (2, 2, 'Dig a Pony', NULL), (2, 3, 'Across the Universe', NULL),
  (2, 4, 'I Me Mine', NULL), (2, 5, 'Dig It', NULL), (2, 6, 'Let It Be', NULL),
  (2, 7, 'Maggie Mae', NULL), (2, 8, 'I''ve Got a Feeling', NULL),
  (2, 9, 'One After 909', NULL), (2, 10, 'The Long and Winding Road', NULL),
  (3, 1, 'More More More', NULL), (3, 2, 'Love at First Sight', NULL),
  (3, 3, 'Can''t Get You Out of My Head', NULL), (3, 4, 'Fever', NULL),
  (3, 5, 'Give It to Me', NULL), (3, 6, 'Fragile', NULL), (3, 7, 'Come into My World', NULL),
  (3, 8, 'In Your Eyes', NULL), (3, 9, 'Dancefloor', NULL), (3, 10, 'Your Love', NULL),
  (4, 1, 'Unbreakable', NULL), (4, 2, 'Heartbreaker', NULL), (4, 3, 'Invincible', NULL),
  (4, 4, 'Break of Dawn', NULL), (4, 5, 'Heaven Can Wait', NULL),
  (4, 6, 'You Rock My World', NULL), (4, 7, 'Butterflies', NULL), (4, 8, 'Speechless', NULL),
  (4, 9, '2000 Watts', NULL), (4, 10, 'You Are My Life', NULL),
  (5, 1, 'Fragile', NULL), (5, 2, 'A Thousand Years', NULL),
  (5, 3, 'Perfect Love... Gone Wrong', NULL), (5, 4, 'All This Time', NULL),
  (5, 5, 'The Hounds of Winter', NULL), (5, 6, 'Don''t Stand So Close to Me', NULL),
  (5, 7, 'When We Dance', NULL), (5, 8, 'Dienda', NULL), (5, 9, 'Roxanne', NULL),
  (5, 10, 'Every Breath You Take', NULL),
  (6, 1, 'A Thousand Years', NULL), (6, 2, 'Desert Rose', NULL),
  (6, 3, 'Big Lie Small World', NULL), (6, 4, 'After the Rain Has Fallen', NULL),
  (6, 5, 'Perfect Love... Gone Wrong', NULL), (6, 6, 'Tomorrow We''ll See', NULL),
  (6, 7, 'Prelude to the End of the Game', NULL), (6, 8, 'Fill Her Up', NULL),
  (6, 9, 'Ghost Story', NULL), (6, 10, 'Brand New Day', NULL),
  (7, 1, 'So What', NULL), (7, 2, 'Freddie Freeloader', NULL), (7, 3, 'Blue in Green', NULL),
  (7, 4, 'All Blues', NULL), (7, 5, 'Flamenco Sketches', NULL),
  (8, 1, 'Don''t Know Why', NULL), (8, 2, 'Seven Years', NULL), (8, 3, 'Cold Cold Heart', NULL),
  (8, 4, 'Feelin'' the Same Way', NULL), (8, 5, 'Come Away with Me', NULL),
  (8, 6, 'Shoot the Moon', NULL), (8, 7, 'Turn Me On', NULL), (8, 8, 'Lonestar', NULL),
  (8, 9, 'I''ve Got to See You Again', NULL), (8, 10, 'Painter Song', NULL),
  (8, 11, 'One Flight Down', NULL), (8, 12, 'Nightingale', NULL),
  (8, 13, 'The Long Day Is Over', NULL), (8, 14, 'The Nearness of You', NULL),
  (9, 1, 'Can''t We Be Friends?', NULL), (9, 2, 'Isn''t This a Lovely Day?', NULL),
  (9, 3, 'Moonlight in Vermont', NULL), (9, 4, 'They Can''t Take That Away from Me', NULL),
  (9, 5, 'Under a Blanket of Blue', NULL), (9, 6, 'Tenderly', NULL), (9, 7, 'A Foggy Day', NULL),
  (9, 8, 'Stars Fell on Alabama', NULL), (9, 9, 'Cheek to Cheek', NULL),
  (9, 10, 'The Nearness of You', NULL), (9, 11, 'April in Paris', NULL),
  (10, 1, 'Hidden Place', NULL), (10, 2, 'Cocoon', NULL), (10, 3, 'It''s Not Up to You', NULL),
  (10, 4, 'Undo', NULL), (10, 5, 'Pagan Poetry', NULL), (10, 6, 'Frosti', NULL),
  (10, 7, 'Aurora', NULL), (10, 8, 'An Echo, a Stain', NULL), (10, 9, 'Sun in My Mouth', NULL),
  (10, 10, 'Heirloom', NULL), (10, 11, 'Harm of Will', NULL), (10, 12, 'Unison', NULL),
  (11, 1, 'Intro', NULL), (11, 2, 'Svefn-g-englar', NULL), (11, 3, 'Starálfur', NULL),
  (11, 4, 'Flugufrelsarinn', NULL), (11, 5, 'Ný batterí', NULL),
  (11, 6, 'Hjartað hamast (bamm bamm bamm)', NULL), (11, 7, 'Viðrar vel til loftárása', NULL),
  (11, 8, 'Olsen Olsen', NULL), (11, 9, 'Ágætis byrjun', NULL), (11, 10, 'Avalon', NULL),
  (12, 1, 'Silent Night', NULL), (12, 2, 'All I Want for Christmas Is You', NULL),
  (12, 3, 'O Holy Night', NULL), (12, 4, 'Christmas (Baby Please Come Home)', NULL),
  (12, 5, 'Miss You Most (At Christmas Time)', NULL), (12, 6, 'Joy to the World', NULL),
  (12, 7, 'Jesus Born on This Day', NULL), (12, 8, 'Santa Claus Is Comin'' to Town', NULL),
  (12, 9, 'Hark! The Herald Angels Sing / Gloria', NULL),
  (12, 10, 'Jesus Oh What a Wonderful Child', NULL),
  (13, 1, 'Hells Bells', NULL), (13, 2, 'Shoot to Thrill', NULL),
  (13, 3, 'What Do You Do for Money Honey', NULL), (13, 4, 'Givin the Dog a Bone', NULL),
  (13, 5, 'Let Me Put My Love into You', NULL), (13, 6, 'Back in Black', NULL),
  (13, 7, 'You Shook Me All Night Long', NULL), (13, 8, 'Have a Drink on Me', NULL),
  (13, 9, 'Shake a Leg', NULL), (13, 10, 'Rock and Roll Ain''t Noise Pollution', NULL),
  (14, 1, '100% Pure Love', 'Crystal Waters'), (14, 2, '100 Years', 'Five for Fighting'),
  (14, 3, 'Can''t Get You Out of My Head', 'Kylie Minogue'),
  (14, 4, 'Up\Down (Club Mix)', 'DJ Backslash'), (14, 5, '50% Off', 'The Bargain Hunters'),
  (14, 6, 'Track_07', 'Unknown Artist'), (14, 7, 'Track 07', 'Unknown Artist'),
  (14, 8, 'Sandstorm', 'Darude'), (14, 9, 'Blue (Da Ba Dee)', 'Eiffel 65'),
  (14, 10, 'Café del Mar', 'Energy 52'),
  (15, 1, 'Automatic -Part II-', NULL), (15, 2, 'Movin'' on without you', NULL),
  (15, 3, 'In My Room', NULL), (15, 4, 'First Love', NULL),
  (15, 5, '甘いワナ ~Paint It, Black', NULL), (15, 6, 'time will tell', NULL),
  (15, 7, 'Never Let Go', NULL), (15, 8, 'B&C', NULL), (15, 9, 'Another Chance', NULL),
  (15, 10, 'Give Me a Reason', NULL), (15, 11, 'Automatic', NULL);

-- One row per track with its numeric id (1000 + 20 * album + track number) and its metadata.
CREATE TEMP VIEW track_all AS
  SELECT 1000 + 20 * t.album + t.no AS num, t.album, t.no, t.title,
         COALESCE(t.artist, a.artist) AS artist, a.title AS album_title, a.genre, a.date
  FROM track_src AS t JOIN album_src AS a ON a.no = t.album;

-- All Tracks: the music items themselves.
INSERT INTO objects (object_id, num_id, parent_id, class, title, creator, date, artist, album,
                     genre, res, track)
  SELECT 'A0$128$129$' || ((num << 16) + 129), num, 'A0$128$129',
         'object.item.audioItem.musicTrack', title, artist, date, artist, album_title, genre,
         'http://192.168.1.20:8200/MediaItems/' || num || '.mp3', no
  FROM track_all ORDER BY num;

-- References to a track repeat its metadata; 'base' keeps each kind of reference's ids apart.
CREATE TEMP VIEW track_object AS
  SELECT o.*, o.num_id - 1000 AS seq FROM objects AS o WHERE o.parent_id = 'A0$128$129';

-- What a library learns of its tracks beyond their tags: album artist and label from the album,
-- a length, the time the file was added, and for the first eight albums how often and when last
-- it was played (0 plays: in the library, never played through).
CREATE TEMP TABLE label_src (no INTEGER PRIMARY KEY, label TEXT);
INSERT INTO label_src VALUES
  (1, 'Apple Records'), (2, 'Apple Records'), (3, 'Parlophone'), (4, 'Epic'), (5, 'A&M'), (6, 'A&M'),
  (7, 'Columbia'), (8, 'Blue Note'), (9, 'Verve'), (10, 'One Little Indian'), (11, 'Smekkleysa'),
  (12, 'Columbia'), (13, 'Atlantic'), (14, 'Universal'), (15, 'Toshiba EMI');
UPDATE objects SET
  album_artist = (SELECT a.artist FROM album_src AS a WHERE a.no = (objects.num_id - 1000) / 20),
  publisher = (SELECT l.label FROM label_src AS l WHERE l.no = (objects.num_id - 1000) / 20),
  duration = printf('0:%02d:%02d', 2 + (num_id * 7) % 5, (num_id * 37) % 60),
  play_count = CASE WHEN (num_id - 1000) / 20 <= 8 THEN (num_id * 13) % 5 END,
  last_updated = date('2024-06-01', '+' || ((num_id * 11) % 180) || ' days') || ' 10:00:00'
WHERE parent_id = 'A0$128$129';
UPDATE objects SET last_played = date('2024-09-01', '+' || ((num_id * 17) % 120) || ' days') || ' 21:30:00'
WHERE parent_id = 'A0$128$129' AND play_count > 0;
-- Composers where they are not the performer, and the Beatles' songwriting credits as author.
UPDATE objects SET composer = CASE
    WHEN num_id IN (1143, 1145) THEN 'Miles Davis, Bill Evans'
    WHEN num_id BETWEEN 1141 AND 1145 THEN 'Miles Davis'
    WHEN num_id BETWEEN 1101 AND 1130 THEN 'Sting'
    WHEN num_id = 1241 THEN 'Franz Xaver Gruber'
    WHEN num_id = 1242 THEN 'Mariah Carey, Walter Afanasieff'
    WHEN num_id = 1243 THEN 'Adolphe Adam'
    WHEN num_id = 1246 THEN 'Lowell Mason'
  END,
  author = CASE
    WHEN num_id IN (1022, 1027, 1044) THEN 'George Harrison'
    WHEN num_id = 1025 THEN 'Richard Starkey'
    WHEN num_id = 1045 THEN 'Lennon, McCartney, Harrison, Starkey'
    WHEN num_id = 1047 THEN 'Traditional'
    WHEN num_id BETWEEN 1021 AND 1050 THEN 'Lennon-McCartney'
  END
WHERE parent_id = 'A0$128$129';
-- Lyricists where the words have an author of their own, a conductor for the carols' orchestra,
-- and each album's cover.
UPDATE objects SET lyricist = CASE
    WHEN num_id BETWEEN 1101 AND 1130 THEN 'Sting'
    WHEN num_id = 1241 THEN 'Joseph Mohr'
    WHEN num_id = 1243 THEN 'Placide Cappeau'
    WHEN num_id = 1246 THEN 'Isaac Watts'
  END,
  conductor = CASE WHEN num_id IN (1241, 1243, 1246) THEN 'Walter Afanasieff' END,
  album_art = 'http://192.168.1.20:8200/AlbumArt/' || ((num_id - 1000) / 20) || '.jpg'
WHERE parent_id = 'A0$128$129';

-- Albums, each with references to its tracks (ids 101.., references 5000 + track sequence).
INSERT INTO objects (object_id, num_id, parent_id, class, title, creator, date, artist, genre)
  SELECT 'A0$128$130$' || (((100 + no) << 16) + 130), 100 + no, 'A0$128$130',
         'object.container.album.musicAlbum', title, artist, date, artist, genre
  FROM album_src ORDER BY no;
UPDATE objects SET album_artist = artist,
  publisher = (SELECT l.label FROM label_src AS l WHERE l.no = objects.num_id - 100),
  album_art = 'http://192.168.1.20:8200/AlbumArt/' || (num_id - 100) || '.jpg',
  last_updated = date('2024-06-01', '+' || ((num_id * 23) % 180) || ' days') || ' 09:00:00'
WHERE parent_id = 'A0$128$130';
INSERT INTO objects (object_id, num_id, parent_id, ref_id, class, title, creator, date, artist,
                     album, genre, res, track)
  SELECT c.object_id || '$' || (((5000 + t.seq) << 16) + 130), 5000 + t.seq, c.object_id,
         t.object_id, t.class, t.title, t.creator, t.date, t.artist, t.album, t.genre, t.res, t.track
  FROM track_object AS t
  JOIN objects AS c ON c.parent_id = 'A0$128$130' AND c.title = t.album
  JOIN album_src AS a ON a.no = c.num_id - 100 AND a.no = (t.num_id - 1000) / 20
  ORDER BY t.num_id;

-- Artists (ids 201..) in name order, each with references to the tracks they perform.
CREATE TEMP TABLE artist_src AS
  SELECT ROW_NUMBER() OVER (ORDER BY artist) AS no, artist
  FROM (SELECT DISTINCT artist FROM track_all);
INSERT INTO objects (object_id, num_id, parent_id, class, title, creator, artist)
  SELECT 'A0$128$131$' || (((200 + no) << 16) + 131), 200 + no, 'A0$128$131',
         'object.container.person.musicArtist', artist, artist, artist
  FROM artist_src ORDER BY no;
INSERT INTO objects (object_id, num_id, parent_id, ref_id, class, title, creator, date, artist,
                     album, genre, res, track)
  SELECT c.object_id || '$' || (((7000 + t.seq) << 16) + 131), 7000 + t.seq, c.object_id,
         t.object_id, t.class, t.title, t.creator, t.date, t.artist, t.album, t.genre, t.res, t.track
  FROM track_object AS t
  JOIN objects AS c ON c.parent_id = 'A0$128$131' AND c.title = t.artist COLLATE BINARY
  ORDER BY t.num_id;

-- Genres (ids 301..) in name order, each with references to its tracks.
CREATE TEMP TABLE genre_src AS
  SELECT ROW_NUMBER() OVER (ORDER BY genre) AS no, genre
  FROM (SELECT DISTINCT genre FROM album_src);
INSERT INTO objects (object_id, num_id, parent_id, class, title, genre)
  SELECT 'A0$128$132$' || (((300 + no) << 16) + 132), 300 + no, 'A0$128$132',
         'object.container.genre.musicGenre', genre, genre
  FROM genre_src ORDER BY no;
INSERT INTO objects (object_id, num_id, parent_id, ref_id, class, title, creator, date, artist,
                     album, genre, res, track)
  SELECT c.object_id || '$' || (((9000 + t.seq) << 16) + 132), 9000 + t.seq, c.object_id,
         t.object_id, t.class, t.title, t.creator, t.date, t.artist, t.album, t.genre, t.res, t.track
  FROM track_object AS t
  JOIN objects AS c ON c.parent_id = 'A0$128$132' AND c.title = t.genre COLLATE BINARY
  ORDER BY t.num_id;

-- Playlists (ids 401..), whose entries are references to tracks, in playing order.
CREATE TEMP TABLE playlist_src (no INTEGER PRIMARY KEY, title TEXT, date TEXT);
INSERT INTO playlist_src VALUES
  (1, 'Favourites', '2021-03-14'),
  (2, 'Christmas Party', '2020-12-20'),
  (3, 'Jazz Evening', '2019-06-01'),
  (4, 'Rock ''n'' Roll Classics', '2018-08-08'),
  (5, 'Late Night – Chill', '2022-01-30');
CREATE TEMP TABLE playlist_entry_src (playlist INTEGER, pos INTEGER, album INTEGER, track INTEGER);
INSERT INTO playlist_entry_src VALUES
  (1, 1, 1, 7), (1, 2, 3, 3), (1, 3, 6, 2), (1, 4, 8, 1), (1, 5, 10, 5), (1, 6, 14, 1),
  (1, 7, 15, 4), (1, 8, 5, 10),
  (2, 1, 12, 2), (2, 2, 12, 4), (2, 3, 12, 8), (2, 4, 12, 5), (2, 5, 3, 9), (2, 6, 14, 8),
  (3, 1, 7, 1), (3, 2, 7, 3), (3, 3, 9, 9), (3, 4, 9, 10), (3, 5, 8, 14), (3, 6, 8, 1),
  (3, 7, 7, 5),
  (4, 1, 13, 6), (4, 2, 13, 10), (4, 3, 1, 1), (4, 4, 2, 6), (4, 5, 5, 9), (4, 6, 13, 1),
  (5, 1, 11, 9), (5, 2, 10, 1), (5, 3, 8, 2), (5, 4, 14, 10), (5, 5, 6, 4), (5, 6, 11, 5),
  (5, 7, 7, 3);
INSERT INTO objects (object_id, num_id, parent_id, class, title, date)
  SELECT 'A0$128$133$' || (((400 + no) << 16) + 133), 400 + no, 'A0$128$133',
         'object.container.playlistContainer', title, date
  FROM playlist_src ORDER BY no;
INSERT INTO objects (object_id, num_id, parent_id, ref_id, class, title, creator, date, artist,
                     album, genre, res, track)
  SELECT c.object_id || '$' || (((11000 + 50 * e.playlist + e.pos) << 16) + 133),
         11000 + 50 * e.playlist + e.pos, c.object_id, t.object_id, t.class, t.title, t.creator,
         t.date, t.artist, t.album, t.genre, t.res, t.track
  FROM playlist_entry_src AS e
  JOIN objects AS c ON c.num_id = 400 + e.playlist AND c.parent_id = 'A0$128$133'
  JOIN track_object AS t ON t.num_id = 1000 + 20 * e.album + e.track
  ORDER BY e.playlist, e.pos;

-- Videos (ids 2001..): movies with their director as creator, music videos, home videos.
CREATE TEMP TABLE video_src (no INTEGER PRIMARY KEY, class TEXT, title TEXT, creator TEXT,
                             date TEXT, actor TEXT, artist TEXT, genre TEXT);
INSERT INTO video_src VALUES
  (1,  'object.item.videoItem.movie', 'Lock, Stock and Two Smoking Barrels', 'Guy Ritchie',
       '1998-08-28', 'Jason Flemyng, Dexter Fletcher, Jason Statham, Vinnie Jones, Sting', NULL, 'Comedy'),
  (2,  'object.item.videoItem.movie', 'Dune', 'David Lynch', '1984-12-14',
       'Kyle MacLachlan, Francesca Annis, Sting', NULL, 'Science Fiction'),
  (3,  'object.item.videoItem.movie', 'Quadrophenia', 'Franc Roddam', '1979-08-16',
       'Phil Daniels, Leslie Ash, Sting', NULL, 'Drama'),
  (4,  'object.item.videoItem.movie', 'Amélie', 'Jean-Pierre Jeunet', '2001-04-25',
       'Audrey Tautou, Mathieu Kassovitz', NULL, 'Comedy'),
  (5,  'object.item.videoItem.movie', 'Spirited Away', 'Hayao Miyazaki', '2001-07-20',
       'Rumi Hiiragi, Miyu Irino', NULL, 'Animation'),
  (6,  'object.item.videoItem.movie', 'The Lord of the Rings: The Fellowship of the Ring',
       'Peter Jackson', '2001-12-19', 'Elijah Wood, Ian McKellen, Viggo Mortensen', NULL, 'Fantasy'),
  (7,  'object.item.videoItem.movie', 'Love Actually', 'Richard Curtis', '2003-11-14',
       'Hugh Grant, Emma Thompson, Bill Nighy', NULL, 'Comedy'),
  (8,  'object.item.videoItem.movie', 'Home Alone', 'Chris Columbus', '1990-11-16',
       'Macaulay Culkin, Joe Pesci', NULL, 'Comedy'),
  (9,  'object.item.videoItem.movie', 'The Matrix', 'Lana Wachowski, Lilly Wachowski',
       '1999-03-31', 'Keanu Reeves, Laurence Fishburne, Carrie-Anne Moss', NULL, 'Science Fiction'),
  (10, 'object.item.videoItem.movie', 'Pulp Fiction', 'Quentin Tarantino', '1994-10-14',
       'John Travolta, Uma Thurman, Samuel L. Jackson', NULL, 'Crime'),
  (11, 'object.item.videoItem.movie', 'Ocean''s Eleven', 'Steven Soderbergh', '2001-12-07',
       'George Clooney, Brad Pitt, Julia Roberts', NULL, 'Crime'),
  (12, 'object.item.videoItem.movie', 'Crouching Tiger, Hidden Dragon', 'Ang Lee', '2000-07-06',
       'Chow Yun-fat, Michelle Yeoh, Zhang Ziyi', NULL, 'Action'),
  (13, 'object.item.videoItem.movie', 'Gladiator', 'Ridley Scott', '2000-05-05',
       'Russell Crowe, Joaquin Phoenix', NULL, 'Action'),
  (14, 'object.item.videoItem.movie', 'It''s a Wonderful Life', 'Frank Capra', '1946-12-20',
       'James Stewart, Donna Reed', NULL, 'Drama'),
  (15, 'object.item.videoItem.movie', 'Das Boot', 'Wolfgang Petersen', '1981-09-17',
       'Jürgen Prochnow, Herbert Grönemeyer', NULL, 'War'),
  (16, 'object.item.videoItem.movie', 'Léon', 'Luc Besson', '1994-09-14',
       'Jean Reno, Natalie Portman, Gary Oldman', NULL, 'Crime'),
  (17, 'object.item.videoItem.movie', 'Toy Story', 'John Lasseter', '1995-11-22',
       'Tom Hanks, Tim Allen', NULL, 'Animation'),
  (18, 'object.item.videoItem.movie', 'The Nightmare Before Christmas', 'Henry Selick',
       '1993-10-29', 'Chris Sarandon, Catherine O''Hara', NULL, 'Animation'),
  (19, 'object.item.videoItem.musicVideoClip', 'Desert Rose', 'Andy Morahan', '2000-01-17',
       NULL, 'Sting', 'Pop'),
  (20, 'object.item.videoItem.musicVideoClip', 'Every Breath You Take', 'Godley & Creme',
       '1983-05-20', NULL, 'The Police', 'Rock'),
  (21, 'object.item.videoItem.musicVideoClip', 'Can''t Get You Out of My Head', 'Dawn Shadforth',
       '2001-09-08', NULL, 'Kylie Minogue', 'Pop'),
  (22, 'object.item.videoItem.musicVideoClip', 'Pagan Poetry', 'Nick Knight', '2001-10-29',
       NULL, 'Björk', 'Electronic'),
  (23, 'object.item.videoItem.musicVideoClip', 'All I Want for Christmas Is You', 'Mariah Carey',
       '1994-11-22', NULL, 'Mariah Carey', 'Holiday'),
  (24, 'object.item.videoItem', 'Birthday party 2019', 'Dad', '2019-05-04', NULL, NULL, NULL),
  (25, 'object.item.videoItem', 'Christmas morning 2020', 'Mum', '2020-12-25', NULL, NULL, NULL),
  (26, 'object.item.videoItem', 'First steps', 'Mum', '2018-02-11', NULL, NULL, NULL),
  (27, 'object.item.videoItem', 'Beach holiday – Algarve', 'Dad', '2021-08-03', NULL, NULL, NULL),
  (28, 'object.item.videoItem', 'VID_20220514_101500', NULL, '2022-05-14', NULL, NULL, NULL),
  (29, 'object.item.videoItem', 'School play: A Christmas Carol', 'Mum', '2021-12-15',
       NULL, NULL, NULL),
  (30, 'object.item.videoItem', 'Garden time-lapse 100%', 'Dad', '2022-06-30', NULL, NULL, NULL);
INSERT INTO objects (object_id, num_id, parent_id, class, title, creator, date, artist, actor,
                     genre, res)
  SELECT 'A0$148$149$' || (((2000 + no) << 16) + 149), 2000 + no, 'A0$148$149', class, title,
         creator, date, artist, actor, genre,
         'http://192.168.1.20:8200/MediaItems/' || (2000 + no) || '.mkv'
  FROM video_src ORDER BY no;

-- Videos' lengths (movies over an hour, clips a few minutes), the time they were added, a few
-- studios, and how often the movies were watched.
UPDATE objects SET
  duration = CASE
    WHEN class = 'object.item.videoItem.movie' THEN printf('%d:%02d:%02d', 1 + num_id % 2, (num_id * 13) % 60, (num_id * 7) % 60)
    WHEN class = 'object.item.videoItem.musicVideoClip' THEN printf('0:%02d:%02d', 3 + num_id % 3, (num_id * 7) % 60)
    ELSE printf('0:%02d:%02d', 1 + num_id % 4, (num_id * 11) % 60)
  END,
  publisher = CASE num_id
    WHEN 2002 THEN 'Universal Pictures' WHEN 2005 THEN 'Toho' WHEN 2008 THEN '20th Century Fox'
    WHEN 2009 THEN 'Warner Bros.' WHEN 2017 THEN 'Walt Disney Pictures'
  END,
  play_count = CASE WHEN class = 'object.item.videoItem.movie' THEN (num_id * 3) % 4 END,
  last_updated = date('2023-11-01', '+' || ((num_id * 19) % 400) || ' days') || ' 18:00:00'
WHERE parent_id = 'A0$148$149';
UPDATE objects SET last_played = date('2024-10-01', '+' || ((num_id * 29) % 60) || ' days') || ' 20:00:00'
WHERE parent_id = 'A0$148$149' AND play_count > 0;

-- Photos (ids 3001..): camera files named by the camera, and a few that were given titles.
CREATE TEMP TABLE photo_src (no INTEGER PRIMARY KEY, title TEXT, creator TEXT, date TEXT);
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 36)
INSERT INTO photo_src
  SELECT i, 'IMG_' || printf('%04d', 4000 + 7 * i) || '.JPG',
         CASE WHEN i % 3 = 0 THEN 'Mum' ELSE 'Dad' END,
         date('2019-06-01', '+' || (i * 23) || ' days')
  FROM n;
INSERT INTO photo_src VALUES
  (37, 'Eiffel Tower at night', 'Dad', '2019-07-14'),
  (38, 'Café in Montmartre', 'Mum', '2019-07-15'),
  (39, 'Christmas tree 2020', 'Mum', '2020-12-24'),
  (40, 'Grandma''s 80th birthday', 'Dad', '2021-03-02'),
  (41, 'Sunset over the Algarve', 'Dad', '2021-08-04'),
  (42, 'Snow in Reykjavík', 'Mum', '2022-02-10');
INSERT INTO objects (object_id, num_id, parent_id, class, title, creator, date, res)
  SELECT 'A0$160$161$' || (((3000 + no) << 16) + 161), 3000 + no, 'A0$160$161',
         'object.item.imageItem.photo', title, creator, date,
         'http://192.168.1.20:8200/MediaItems/' || (3000 + no) || '.jpg'
  FROM photo_src ORDER BY no;
UPDATE objects SET last_updated = date || ' 12:00:00' WHERE parent_id = 'A0$160$161';

-- Photo albums (ids 601..) by year, each with references to that year's photos.
INSERT INTO objects (object_id, num_id, parent_id, class, title, date)
  SELECT 'A0$160$162$' || (((600 + year - 2018) << 16) + 162), 600 + year - 2018, 'A0$160$162',
         'object.container.album.photoAlbum', 'Photos ' || year, year || '-01-01'
  FROM (SELECT DISTINCT CAST(substr(date, 1, 4) AS INTEGER) AS year FROM photo_src)
  ORDER BY year;
INSERT INTO objects (object_id, num_id, parent_id, ref_id, class, title, creator, date, res)
  SELECT c.object_id || '$' || (((13000 + p.num_id - 3000) << 16) + 162), 13000 + p.num_id - 3000,
         c.object_id, p.object_id, p.class, p.title, p.creator, p.date, p.res
  FROM objects AS p
  JOIN objects AS c ON c.parent_id = 'A0$160$162' AND c.title = 'Photos ' || substr(p.date, 1, 4)
  WHERE p.parent_id = 'A0$160$161'
  ORDER BY p.num_id;

-- References repeat the library's knowledge of the item they stand for, as they repeat its tags.
UPDATE objects SET (album_artist, composer, author, publisher, duration, play_count, last_played, last_updated,
                    conductor, lyricist, album_art) =
  (SELECT i.album_artist, i.composer, i.author, i.publisher, i.duration, i.play_count, i.last_played, i.last_updated,
          i.conductor, i.lyricist, i.album_art
   FROM objects AS i WHERE i.object_id = objects.ref_id)
WHERE ref_id IS NOT NULL;

-- What a server announces of every resource, from its file's kind and length: the protocol, the
-- size in bytes, the bit rate in bytes per second (MP3 files at 128 kbit/s, videos at 4 Mbit/s)
-- and the pixels of pictures and videos.
UPDATE objects SET protocol_info = 'http-get:*:' || CASE
    WHEN res LIKE '%.mp3' THEN 'audio/mpeg'
    WHEN res LIKE '%.mkv' THEN 'video/x-matroska'
    ELSE 'image/jpeg'
  END || ':*',
  bitrate = CASE WHEN res LIKE '%.mp3' THEN 16000 WHEN res LIKE '%.mkv' THEN 500000 END,
  resolution = CASE WHEN res LIKE '%.mkv' THEN '1920x1080' WHEN res LIKE '%.jpg' THEN '4000x3000' END
WHERE res IS NOT NULL;
UPDATE objects SET size = CASE
    WHEN bitrate IS NULL THEN 2000000 + (num_id * 7919) % 3000000
    ELSE bitrate * (substr(duration, 1, instr(duration, ':') - 1) * 3600 + substr(duration, -5, 2) * 60 + substr(duration, -2))
  END
WHERE res IS NOT NULL;

COMMIT;
